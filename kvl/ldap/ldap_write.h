/*
 * ldap_write.h - KVL's writing requests on a directory: set, create, delete
 * and the actions setPassword and whoAmI.  PRIVATE to kvl/ (and its tests).
 *
 * The LDAP transport hands these requests to one LdapWrites, and every
 * message libldap returns for them back to it; it answers each request
 * through the platform (plat.answer / plat.fail) when its last operation is
 * done.  Nothing here waits: a request that takes several operations (the
 * read after a failed assertion, the listing and the deletes of a subtree)
 * starts the next one from the result of the one before.
 *
 *   set     one modify of the attributes whose values differ from those the
 *           form was loaded with (params "expect", attribute -> text, over
 *           the values of the entry's last read): a single-valued attribute
 *           is replaced, a multi-valued one loses the values the user took
 *           out and gains those put in, one value per line.  The modify
 *           carries the Assertion control (RFC 4528) asserting the loaded
 *           values of the changed attributes; when it fails the entry is read
 *           again and the refusal names the attribute that changed and its
 *           value now.
 *   create  one add: objectClass is the class and its superclasses, the RDN
 *           is kvl:namingAttribute's value (the template's RDN attribute or
 *           the class's usual one) with that attribute's value; a MUST
 *           attribute without a value is refused before any request.
 *   delete  the entry and its subtree: listed in pages, then one delete with
 *           the Tree Delete control when the root DSE lists it, else the
 *           entries one by one, deepest first; a refusal stops the run and
 *           says how many went and which entry stopped it.
 *   setPassword (action)  the Password Modify extended operation (RFC 3062),
 *           the parameter the new password, which goes nowhere else.
 *   whoAmI (action of the root DSE)  RFC 4532: the authorization identity.
 */
#ifndef KVL_LDAP_LDAP_WRITE_H
#define KVL_LDAP_LDAP_WRITE_H

#include "kvl/kvl_private.h"
#include "kvl/ldap/ldap_schema.h"

#include <ldap.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

/* The pseudo attribute that names a new entry's RDN attribute; the editor
 * shows it as "namingAttribute", read-only on an existing entry. */
extern const char* const KVL_LDAP_NAMING_ATTRIBUTE;

/* OIDs of the operations and controls used here. */
#define KVL_LDAP_TREE_DELETE "1.2.840.113556.1.4.805"

/* The values of a text as KVL carries them: one per line, empty lines dropped. */
std::vector<std::string> kvl_ldap_values(const std::string& text);

/* What a modify must do to turn the values `loaded` into `wanted`: the
 * values to delete and to add (each kept in the order given). */
void kvl_ldap_value_changes(const std::vector<std::string>& loaded,
                            const std::vector<std::string>& wanted,
                            std::vector<std::string>& removed, std::vector<std::string>& added);

/* The RDN attribute of a new entry of a class whose MUST attributes are must:
 * the first of them that entries are usually named by (cn, uid, ou, o, dc,
 * l, ...), else the first MUST attribute that is not objectClass. */
std::string kvl_ldap_usual_naming(const std::vector<std::string>& must);

/* The assertion that the attributes hold the loaded values: for each, every
 * value present, or the attribute absent when none was loaded. */
std::string kvl_ldap_assertion_filter(const std::map<std::string, std::vector<std::string>>& loaded);

class LdapWrites {
public:
    /* What the writer needs of the transport, set once connected. */
    const LdapSchema* schema = nullptr;
    bool tree_delete = false;   /* the root DSE lists the Tree Delete control */
    bool manage_dsa_it = false; /* referral entries are entries */
    std::function<std::string(const std::string&)> fdn_of; /* DN -> FDN */

    /* Starts method when it is a writing request or one of the actions;
     * false when it is not one of these. */
    bool send(PlatformImpl& plat, LDAP* ld, long id, const std::string& method, const json& params);
    /* Takes msg when it answers an operation of these; false otherwise. */
    bool take(PlatformImpl& plat, LDAP* ld, LDAPMessage* msg);
    /* Nobody waits for request id any more: its operation is abandoned. */
    void forget(LDAP* ld, long id);
    void clear() { ops_.clear(); }
    /* The values of an entry's last read (attribute -> text), which a set
     * without "expect" takes for the loaded ones. */
    void remember(const std::string& fdn, const json& attributes);
    /* Actions a class offers ("" none): setPassword when it has
     * userPassword; whoAmI for the root DSE. */
    std::vector<std::string> actions_of(const std::string& cls) const;

private:
    /* The deletes of a subtree, several out at once: an entry goes once
     * nothing below it is still out. */
    struct DeleteRun {
        std::vector<std::string> dns; /* deepest first */
        size_t next = 0;              /* the next to send */
        size_t done = 0;              /* deleted */
        std::vector<std::string> out; /* the DNs whose deletes are out */
        int rc = LDAP_SUCCESS;        /* the first refusal: its code, entry and text */
        std::string stopped, text;
    };
    struct Op {
        enum Kind { MODIFY, READ_BACK, ADD, LIST, DELETE, PASSWD, WHOAMI } kind;
        long id = 0;
        std::string dn, fdn;
        /* set: what was asked, to compose the modify again and the refusal */
        std::map<std::string, std::vector<std::string>> loaded, wanted;
        bool asserted = true;
        std::set<std::string> whole; /* attributes of bytes: their values replaced */
        /* create */
        std::string cls;
        /* delete */
        std::vector<std::string> dns; /* deepest first */
        size_t done = 0;
        std::string cookie;
        bool tree = false;
        std::shared_ptr<DeleteRun> run; /* the deletes one by one */
        json now = json::object(); /* READ_BACK: attribute -> values */
    };
    std::map<int, Op> ops_; /* by LDAP message id */
    std::map<std::string, std::map<std::string, std::string>> last_read_; /* FDN -> attr -> text */

    bool start_set(PlatformImpl& plat, LDAP* ld, long id, const json& params);
    bool start_modify(PlatformImpl& plat, LDAP* ld, Op op);
    bool start_create(PlatformImpl& plat, LDAP* ld, long id, const json& params);
    bool new_dn(PlatformImpl& plat, long id, const std::string& cls, const std::string& parent,
                const std::string& parent_dn, const std::vector<std::string>& must,
                const std::vector<std::string>& may,
                std::map<std::string, std::vector<std::string>>& values,
                std::map<std::string, std::string>& spelled, std::string& dn);
    bool start_delete(PlatformImpl& plat, LDAP* ld, long id, const json& params);
    bool list_page(PlatformImpl& plat, LDAP* ld, Op op);
    bool delete_next(PlatformImpl& plat, LDAP* ld, Op op);
    /* Sends run's deletes while fewer than the window are out; answers the
     * request once none is out and none may go. */
    void send_deletes(PlatformImpl& plat, LDAP* ld, const Op& base);
    bool start_action(PlatformImpl& plat, LDAP* ld, long id, const json& params);
    void modified(PlatformImpl& plat, LDAP* ld, Op op, int rc, const std::string& text);
    void read_back(PlatformImpl& plat, Op& op);
    void deleted(PlatformImpl& plat, LDAP* ld, Op op, int rc, const std::string& text);
    /* Starts op's operation through started (a libldap call giving the
     * message id); on a refusal at once fails the request. */
    bool started(PlatformImpl& plat, LDAP* ld, Op op, int rc, int msgid);
};

#endif /* KVL_LDAP_LDAP_WRITE_H */
