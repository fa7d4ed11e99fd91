/*
 * bench_ldif.cpp - File > Export... and Import... of N entries (100,000 by
 * default) against a private slapd, side by side with OpenLDAP's own tools
 * on the same server:
 *   export N entries: editor X ms, ldapsearch Y ms, ratio R; file B bytes
 *       the editor's export of ou=bulk (the container and its N leaves) to
 *       a file, against `ldapsearch -LLL` of the same subtree (paged) into
 *       a file;
 *   import N entries: editor X ms, ldapadd Y ms, ratio R; went in K
 *       the editor's import of that file beneath another container, against
 *       `ldapadd -c` of the same file moved beneath a third;
 *   delete a container of N leaves: editor X ms, ldapdelete -r Y ms
 *       Edit > Delete of the imported container, from the press (its
 *       question answered at once, the count included) to the report,
 *       against `ldapdelete -r` of the tool's copy.
 * The server writes without syncing to disk, so that the disk is not what is
 * measured.  Prints the figures; asserts nothing.  Needs a display (DISPLAY).
 *
 *     bench_ldif [N [export]]    (export: the export alone)
 */
#include "gui_fixture.h" /* first: gtest before the X headers */

#include <Xm/MessageB.h>

#include <functional>

#include <fcntl.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "slapd_process.h"
#include "tree/data_object.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

/* Runs argv with input on its standard input and its output into out_path
 * (or /dev/null); its exit status and the milliseconds it took. */
int timed_run(const std::vector<std::string>& argv, const std::string& in_path,
              const std::string& out_path, double& ms)
{
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(in_path.empty() ? "/dev/null" : in_path.c_str(), O_RDONLY);
        int out = out_path.empty() ? open("/dev/null", O_WRONLY)
                                   : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int null = open("/dev/null", O_WRONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ms = ms_since(start);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/* The object of fdn, registered and the only one selected. */
void select_only(const std::string& fdn)
{
    DataObject::selected_list.clear();
    DataObject* obj = find_album_object(fdn.c_str());
    if (!obj) {
        obj = new DataObject(fdn.c_str());
        obj->parent_name = intern_name("/dc=example,dc=org");
        DataObject::object_list.insert(obj);
    }
    DataObject::selected_list.append(obj);
}

/* Every DN "...,ou=bulk,dc=example,dc=org" of text put beneath ou=to. */
std::string moved(const std::string& text, const std::string& to)
{
    const std::string from = "ou=bulk,dc=example,dc=org";
    const std::string into = "ou=bulk,ou=" + to + ",dc=example,dc=org";
    std::string out;
    size_t at = 0;
    for (size_t hit; (hit = text.find(from, at)) != std::string::npos; at = hit + from.size())
        out += text.substr(at, hit - at) + into;
    return out + text.substr(at);
}

/* An error dialog of a failed run is answered as soon as it is up, so that
 * the figures come all the same; the status line keeps its text. */
void answer_errors()
{
    if (current_error_dialog && XtIsManaged(*current_error_dialog->getwidget()))
        press(XmMessageBoxGetChild(*current_error_dialog->getwidget(), XmDIALOG_OK_BUTTON));
    after(50, answer_errors);
}

} // namespace

int main(int argc, char** argv)
{
    int n = argc > 1 ? atoi(argv[1]) : 100000;
    bool export_only = argc > 2 && std::string(argv[2]) == "export";
    if (n <= 0 || (argc > 2 && !export_only)) {
        fprintf(stderr, "usage: bench_ldif [N [export]]\n");
        return 2;
    }
    if (!qxtest::SlapdProcess::available()) {
        printf("bench_ldif: no slapd (%s)\n", qxtest::SlapdProcess::binary().c_str());
        return 0;
    }
    if (!gui_up()) {
        printf("bench_ldif: no display (set DISPLAY)\n");
        return 0;
    }
    setenv("HOME", "/nonexistent", 1); /* no ~/.ldaprc of the user's */
    qxtest::SlapdProcess ldap;
    std::string containers;
    for (const char* ou : {"editor", "tool"})
        containers += std::string("dn: ou=") + ou + ",dc=example,dc=org\nobjectClass: "
                      "organizationalUnit\nou: " + ou + "\n\n";
    if (!ldap.start(qxtest::SlapdProcess::sample_ldif() + containers +
                        qxtest::SlapdProcess::many_ldif("bulk", n),
                    "dbnosync\n")) {
        printf("slapd: %s\n", ldap.failure().c_str());
        return 1;
    }
    /* The manager may write; the password comes from a 0600 file. */
    std::string pw = ldap.folder() + "/bench.pw";
    {
        std::ofstream(pw) << qxtest::SlapdProcess::kManagerPassword << "\n";
    }
    chmod(pw.c_str(), 0600);
    setenv("QX_PASSWORD_FILE", pw.c_str(), 1);
    std::string url = ldap.url() + "/????bindname=cn%3Dadmin%2Cdc%3Dexample%2Cdc%3Dorg";
    if (!platform.connect(DataUnit(url.c_str()), DataUnit("bench_ldif"), 30)) {
        printf("connect: %s\n", platform.get_error_string());
        return 1;
    }
    XtRealizeWidget(main_window->shell());
    pump_for(0.3);
    answer_errors();

    const std::string file = ldap.folder() + "/editor.ldif", tool_file = ldap.folder() + "/tool.ldif";
    /* Each side twice, taking turns, the faster of each: the first read of
     * the entries after slapadd pays for bringing them in, whoever reads. */
    select_only("/dc=example,dc=org/ou=bulk");
    double editor_ms = 0, tool_ms = 0;
    long exported = 0;
    int status = 0;
    for (int turn = 0; turn < 2; turn++) {
        auto t = Clock::now();
        exported = main_window->export_ldif(file);
        double e = ms_since(t), s = 0;
        status = timed_run({"ldapsearch", "-x", "-H", ldap.url(), "-b", "ou=bulk,dc=example,dc=org",
                            "-LLL", "-E", "pr=500/noprompt"},
                           "", tool_file, s);
        editor_ms = turn == 0 || e < editor_ms ? e : editor_ms;
        tool_ms = turn == 0 || s < tool_ms ? s : tool_ms;
    }
    printf("export %d entries: editor %.0f ms, ldapsearch %.0f ms, ratio %.2f; file %zu bytes "
           "(ldapsearch %zu)%s%s\n",
           n, editor_ms, tool_ms, editor_ms / tool_ms, slurp(file).size(),
           slurp(tool_file).size(), exported == n + 1 ? "" : "; editor wrote ",
           exported == n + 1 ? "" : (std::to_string(exported) + " entries: " + status_text()).c_str());
    if (status != 0) printf("ldapsearch failed (%d)\n", status);
    if (export_only) {
        DataObject::selected_list.clear();
        DataObject::object_list.clear_and_destroy();
        platform.disconnect();
        return 0;
    }

    select_only("/dc=example,dc=org/ou=editor");
    auto t = Clock::now();
    long imported = main_window->import_ldif(file);
    editor_ms = ms_since(t);
    std::string tool_in = ldap.folder() + "/tool-in.ldif";
    {
        std::ofstream(tool_in) << moved(slurp(file), "tool");
    }
    status = timed_run({"ldapadd", "-x", "-c", "-H", ldap.url(), "-D",
                        qxtest::SlapdProcess::kManager, "-y", ldap.folder() + "/manager.pw"},
                       tool_in, "", tool_ms);
    printf("import %d entries: editor %.0f ms, ldapadd %.0f ms, ratio %.2f; went in %ld%s%s\n",
           n, editor_ms, tool_ms, editor_ms / tool_ms, imported,
           imported == n + 1 ? "" : ": ", imported == n + 1 ? "" : status_text().c_str());
    if (status != 0) printf("ldapadd failed (%d)\n", status);

    /* Edit > Delete of the imported container, its question answered as soon
     * as it is up, from the press until the report: the count included. */
    select_only("/dc=example,dc=org/ou=editor/ou=bulk");
    bool deleting = true;
    std::function<void()> answer = [&] {
        if (current_question_dialog && XtIsManaged(*current_question_dialog->getwidget()))
            press(XmMessageBoxGetChild(*current_question_dialog->getwidget(), XmDIALOG_OK_BUTTON));
        else if (deleting)
            after(1, answer);
    };
    after(1, answer);
    t = Clock::now();
    main_window->delete_object_cb(main_window->mw_delete_button, nullptr);
    deleting = false;
    editor_ms = ms_since(t);
    std::string report = status_text();
    if (current_information_dialog && XtIsManaged(*current_information_dialog->getwidget()))
        press(XmMessageBoxGetChild(*current_information_dialog->getwidget(), XmDIALOG_OK_BUTTON));
    status = timed_run({"ldapdelete", "-x", "-r", "-H", ldap.url(), "-D", qxtest::SlapdProcess::kManager,
                        "-y", ldap.folder() + "/manager.pw", "ou=bulk,ou=tool,dc=example,dc=org"},
                       "", "", tool_ms);
    Search left(platform);
    bool gone = !left.run(DataUnit("/dc=example,dc=org/ou=editor/ou=bulk"), DataUnit(), 0, 1, 30);
    printf("delete a container of %d leaves: editor %.0f ms (count included), ldapdelete -r %.0f ms, "
           "ratio %.2f; %s; \"%s\"\n",
           n, editor_ms, tool_ms, editor_ms / tool_ms, gone ? "gone" : "still there", report.c_str());
    if (status != 0) printf("ldapdelete failed (%d)\n", status);
    DataObject::selected_list.clear();
    DataObject::object_list.clear_and_destroy();
    platform.disconnect();
    return 0;
}
