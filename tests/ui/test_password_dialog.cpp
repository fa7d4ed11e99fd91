/*
 * The password dialog in process under X: what is typed never reaches the
 * field, the dialog says which try it is and what the server refused, and
 * OK, Return, Cancel and Escape answer.
 */
#include "tests/ui/gui_fixture.h"

#include <Xm/Text.h>
#include <X11/keysym.h>

#include <string>

#include "ui/password_dialog.h"

namespace {

enum Answer { OK, RETURN, CANCEL, ESCAPE };

/* One try as a person makes it: what is typed ('\b' is Backspace) and how
 * the dialog is answered. */
struct Try {
    std::string keys;
    Answer answer;
};

/* What the dialog showed when the try was answered. */
struct Seen {
    std::string field, refusal, attempt, prompt;
};

/* Answers the dialog once it is up, from a timer, typing through the
 * field's own actions as the keyboard would. */
struct Typist {
    PasswordDialog* dialog;
    Try typed;
    Seen seen;
    bool answered = false;
    XtIntervalId timer = 0;

    Typist(PasswordDialog* d, Try t) : dialog(d), typed(std::move(t)) { arm(); }
    ~Typist()
    {
        if (timer) XtRemoveTimeOut(timer);
    }
    void arm() { timer = XtAppAddTimeOut(app_context, 30, tick, this); }
    static void tick(XtPointer p, XtIntervalId*)
    {
        Typist* t = static_cast<Typist*>(p);
        t->timer = 0;
        PasswordDialog* d = t->dialog;
        if (!d->pw_dialog || !XtIsManaged(d->pw_dialog) || !XtIsRealized(d->pw_text)) {
            t->arm();
            return;
        }
        t->answered = true;
        XEvent ev = key_event(d->pw_text, XK_a);
        for (char c : t->typed.keys) {
            if (c == '\b') {
                XtCallActionProc(d->pw_text, "delete-previous-character", &ev, nullptr, 0);
                continue;
            }
            char one[2] = {c, 0};
            String params[] = {one};
            XtCallActionProc(d->pw_text, "insert-string", &ev, params, 1);
        }
        t->seen = {qxtest::text_of(d->pw_text),
                   xmstring_resource(d->pw_refusal_label, XmNlabelString),
                   xmstring_resource(d->pw_attempt_label, XmNlabelString),
                   xmstring_resource(d->pw_prompt_label, XmNlabelString)};
        switch (t->typed.answer) {
        case OK: press(d->pw_ok_button); break;
        case RETURN: XtCallActionProc(d->pw_text, "activate", &ev, nullptr, 0); break;
        case CANCEL: press(d->pw_cancel_button); break;
        case ESCAPE: {
            XEvent esc = key_event(d->pw_text, XK_Escape);
            XtDispatchEvent(&esc);
            break;
        }
        }
    }
};

TEST(PasswordDialog, TypedTextStaysOutOfTheFieldAndEachAnswerCounts)
{
    REQUIRE_GUI();
    PasswordDialog dialog(main_window->shell());
    struct Case {
        const char* what;
        Try typed;
        const char* refusal; /* the request's */
        int attempt;
        bool given;
        const char* password;
        int stars; /* in the field when answered; -1: as the locale counts characters */
    } cases[] = {
        {"typed and OK", {"s3cret pass", OK}, "", 1, true, "s3cret pass", 11},
        {"corrected with Backspace, Return", {"guesX\bs", RETURN}, "Invalid credentials", 2, true,
         "guess", 5},
        {"Cancel", {"typed", CANCEL}, "", 1, false, "", 5},
        {"Escape", {"typed", ESCAPE}, "", 3, false, "", 5},
        {"nothing typed", {"", OK}, "", 1, true, "", 0},
        {"UTF-8", {"p\xc3\xa4ss", OK}, "", 1, true, "p\xc3\xa4ss", -1},
    };
    for (const Case& c : cases) {
        Typist typist(&dialog, c.typed);
        KvlPasswordRequest request = {"uid=bob,ou=staff,dc=example,dc=org", "ldap://dir:389",
                                      c.refusal, c.attempt, 3};
        KvlSecret password;
        EXPECT_EQ(c.given, dialog.ask(request, password)) << c.what;
        ASSERT_TRUE(typist.answered) << c.what;
        const Seen& seen = typist.seen;
        EXPECT_EQ(std::string(password.data(), password.size()), c.password) << c.what;
        /* The field held a star per character and never the text. */
        EXPECT_EQ(seen.field.find_first_not_of('*'), std::string::npos) << c.what << seen.field;
        if (c.stars >= 0) {
            EXPECT_EQ(seen.field.size(), (size_t)c.stars) << c.what;
        }
        EXPECT_EQ(qxtest::text_of(dialog.pw_text), "") << c.what;
        EXPECT_EQ(0u, dialog.typed_length()) << c.what;
        EXPECT_FALSE(XtIsManaged(dialog.pw_dialog)) << c.what;
        EXPECT_EQ(seen.attempt, "Attempt " + std::to_string(c.attempt) + " of 3") << c.what;
        EXPECT_NE(seen.prompt.find("uid=bob,ou=staff,dc=example,dc=org"), std::string::npos);
        EXPECT_NE(seen.prompt.find("ldap://dir:389"), std::string::npos);
        if (*c.refusal) {
            EXPECT_NE(seen.refusal.find(c.refusal), std::string::npos) << c.what << seen.refusal;
        } else {
            EXPECT_EQ(seen.refusal.find_first_not_of(' '), std::string::npos) << seen.refusal;
        }
    }
}

} // namespace
