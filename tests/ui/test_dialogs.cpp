/* The message dialogs and the busy cursor, in process under X. */
#include "tests/ui/gui_fixture.h"

#include <Xm/MessageB.h>

#include "tests/ui/cursor_probe.h"
#include "ui/busy_cursor.h"
#include "ui/dialogs.h"

namespace {

using qxtest::resource;

Widget shell()
{
    return main_window->shell();
}

/* A message-box button: a gadget, with no actions of its own, so press()
 * runs its activate callback, which the message box turns into its OK,
 * Cancel or Help callback. */
Widget button(AppsDialogBox* box, unsigned char which)
{
    return XmMessageBoxGetChild(*box->getwidget(), which);
}

/* Whether the current dialog of a kind is up on the screen. */
bool up(AppsDialogBox* box)
{
    return box && viewable(XtParent(*box->getwidget()));
}
bool error_up()
{
    return up(current_error_dialog);
}
bool question_up()
{
    return up(current_question_dialog);
}

/* The three ways to answer a dialog: its OK, its Cancel, or the window
 * manager's close (WM_DELETE_WINDOW). */
enum Answer { OK, CANCEL, WM_CLOSE };

void answer(AppsDialogBox* box, Answer how)
{
    if (how == WM_CLOSE)
        close_from_window_manager(XtParent(*box->getwidget()));
    else
        press(button(box, how == OK ? XmDIALOG_OK_BUTTON : XmDIALOG_CANCEL_BUTTON));
}

TEST(ErrorDialog, BlocksUntilAnsweredAndStandsRaised)
{
    REQUIRE_GUI();
    for (Answer how : {OK, WM_CLOSE}) {
        SCOPED_TRACE(how);
        bool answered = false, on_top = false;
        once(error_up, [&] {
            ErrDialogBox* box = current_error_dialog;
            ASSERT_NE(box, nullptr);
            /* Above the main window; other programs' windows do not count. */
            Widget sh = XtParent(*box->getwidget());
            on_top = stacking(sh) > stacking(shell()) && stacking(shell()) >= 0;
            answered = true;
            answer(box, how);
        });
        error_dialog(main_window->mw_message_label, "Something failed\non two lines");
        EXPECT_TRUE(answered) << "returned before the answer";
        EXPECT_TRUE(on_top);
        EXPECT_EQ(current_error_dialog, nullptr) << "the answer deletes the dialog";
    }
}

TEST(QuestionDialog, OkAndCancelGiveTheReasonNestedOrNotAndLongTextsAreBroken)
{
    REQUIRE_GUI();
    /* Closing from the window manager is Cancel. */
    for (auto [how, reason] :
         {std::pair{OK, XmCR_OK}, {CANCEL, XmCR_CANCEL}, {WM_CLOSE, XmCR_CANCEL}}) {
        SCOPED_TRACE(how);
        once(question_up, [how = how] { answer(current_question_dialog, how); });
        EXPECT_EQ(question_dialog(shell(), "Delete?", ok_cancel_ques_cb, ok_cancel_ques_cb),
                  reason);
        EXPECT_EQ(current_question_dialog, nullptr);
    }

    /* Nested questions keep their own answers. */
    int inner = 0;
    once(question_up, [&] {
        QuestionDialogBox* outer_box = current_question_dialog;
        once([=] { return current_question_dialog != outer_box && question_up(); },
             [] { press(button(current_question_dialog, XmDIALOG_CANCEL_BUTTON)); });
        inner = question_dialog(shell(), "inner", ok_cancel_ques_cb, ok_cancel_ques_cb);
        press(button(outer_box, XmDIALOG_OK_BUTTON));
    });
    int outer = question_dialog(shell(), "outer", ok_cancel_ques_cb, ok_cancel_ques_cb);
    EXPECT_EQ(inner, XmCR_CANCEL);
    EXPECT_EQ(outer, XmCR_OK);

    /* The question for a deep object, one line of 1,284 pixels before lines
     * were broken, fits within two thirds of the screen. */
    std::string fdn = "/systemId=\"lab-east-07.example.org\"";
    for (int i = 1; i <= 9; i++) fdn += "/equipmentId=\"rack-" + std::to_string(i) + "-shelf-a\"";
    std::string question =
        "Are you sure you want to delete object " + fdn + "?\nThe children will also be deleted.";
    QuestionDialogBox* box = new QuestionDialogBox(shell(), question.c_str());
    box->manage();
    Widget sh = XtParent(*box->getwidget());
    ASSERT_TRUE(pump_until([&] { return viewable(sh); }, 3.0));
    pump_settled();
    XmString m = resource<XmString>(*box->getwidget(), XmNmessageString);
    EXPECT_GT(XmStringLineCount(m), 2);
    XmStringFree(m);
    EXPECT_LE(resource<Dimension>(sh, XmNwidth) * 3, WidthOfScreen(XtScreen(sh)) * 2);
    delete box;
}

/* Set shows the hourglass on the widget's window, reset takes it away. */
TEST(BusyCursor, ShownOnTheWindowUntilReset)
{
    REQUIRE_GUI();
    if (!cursors_readable()) GTEST_SKIP() << "no XFIXES on this display";
    ASSERT_TRUE(pump_until([] { return XtIsRealized(shell()) && XtWindow(shell()); }, 5));
    XMapRaised(display, XtWindow(shell()));
    pump_settled();
    Widget over = main_window->mw_message_label;
    std::vector<int> plain = cursor_over(over);
    ASSERT_EQ(plain.size(), 4u);

    set_busy_cursor(shell());
    EXPECT_EQ(cursor_over(over), kHourglass);
    reset_busy_cursor(shell());
    EXPECT_EQ(cursor_over(over), plain);
}

} // namespace
