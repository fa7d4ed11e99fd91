/* The icon button in process: sizes, clicks, keyboard activation. */
#include <gtest/gtest.h>

#include <X11/keysym.h>
#include <X11/extensions/Xcomposite.h>

#include <Xm/BulletinB.h>

#include "XiIconButton.h"
#include "widget_test_env.h"

namespace {

struct Calls {
    int activate = 0;
    int double_click = 0;
    int last_state = -1;
};

/* Counts a call in the member `count` of the Calls given. */
template <int Calls::*count> void count_cb(Widget, XtPointer client, XtPointer call)
{
    Calls* c = (Calls*)client;
    (c->*count)++;
    c->last_state = ((XiIconButtonCallbackInfo*)call)->state;
}

class IconButtonTest : public ::testing::Test {
protected:
    Widget shell = nullptr;
    Widget board = nullptr; /* keeps the button at its own size */
    Widget button = nullptr;
    Calls calls;

    void SetUp() override
    {
        shell = WidgetTest::shell(200, 100);
        board = XtVaCreateManagedWidget("board", xmBulletinBoardWidgetClass, shell, XmNmarginWidth,
                                        0, XmNmarginHeight, 0, NULL);
        WidgetTest::warnings().clear();
    }
    void TearDown() override
    {
        XtDestroyWidget(shell);
        WidgetTest::settle(5);
    }

    Widget make(ArgList args, Cardinal n)
    {
        button = XtCreateManagedWidget("button", xiIconButtonWidgetClass, board, args, n);
        XtAddCallback(button, XmNactivateCallback, count_cb<&Calls::activate>, &calls);
        XtAddCallback(button, XiNdoubleClickCallback, count_cb<&Calls::double_click>, &calls);
        XtRealizeWidget(shell);
        WidgetTest::settle();
        return button;
    }

    Pixmap bitmap(int w, int h)
    {
        Display* d = WidgetTest::display();
        return XCreatePixmap(d, DefaultRootWindow(d), w, h, 1);
    }

    /* Sends the button an event of type: button 1 for a press or release,
     * Return for a key, with button 1 held for a leave. */
    void send(int type, Time t)
    {
        XEvent ev = {};
        ev.xany.type = type;
        ev.xany.display = XtDisplay(button);
        ev.xany.window = XtWindow(button);
        if (type == KeyPress) {
            ev.xkey.keycode = XKeysymToKeycode(XtDisplay(button), XK_Return);
            ev.xkey.time = t;
            ev.xkey.same_screen = True;
        } else if (type == LeaveNotify) {
            ev.xcrossing.time = t;
            ev.xcrossing.mode = NotifyNormal;
            ev.xcrossing.state = Button1Mask;
        } else {
            ev.xbutton.button = Button1;
            ev.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
            ev.xbutton.time = t;
            ev.xbutton.x = ev.xbutton.y = 5;
            ev.xbutton.same_screen = True;
        }
        XtDispatchEvent(&ev);
    }
};

TEST_F(IconButtonTest, PreferredSizeFromIconTextAndFrame)
{
    Arg args[3];
    XtSetArg(args[0], XmNpixmap, bitmap(12, 8));
    XtSetArg(args[1], XiNiconPlacement, XiIconOnly);
    make(args, 2);
    Dimension w, h, ht, st, hm, vm;
    XtVaGetValues(button, XmNwidth, &w, XmNheight, &h, XmNhighlightThickness, &ht,
                  XmNshadowThickness, &st, XiNhorizontalMargin, &hm, XiNverticalMargin, &vm, NULL);
    EXPECT_EQ(12 + 2 * (ht + st + hm), w);
    EXPECT_EQ(8 + 2 * (ht + st + vm), h);

    /* A bigger icon with recomputeSize grows the button. */
    XtVaSetValues(button, XmNpixmap, bitmap(30, 20), NULL);
    XtVaGetValues(button, XmNwidth, &w, XmNheight, &h, NULL);
    EXPECT_EQ(30 + 2 * (ht + st + hm), w);
    EXPECT_EQ(20 + 2 * (ht + st + vm), h);

    /* Icon left of a text: widths add up, with the padding between. */
    XmString s = XmStringCreateLocalized((char*)"Label");
    XtVaSetValues(button, XmNlabelString, s, XiNiconPlacement, XiIconLeft, NULL);
    XmFontList fl;
    Dimension pad;
    XtVaGetValues(button, XmNfontList, &fl, XiNiconTextPadding, &pad, XmNwidth, &w, NULL);
    EXPECT_EQ(XmStringWidth(fl, s) + 30 + pad + 2 * (ht + st + hm), w);
    XmStringFree(s);

    /* A size given in full is kept; half a size makes the button ask for
     * its whole preferred size, which icon only without a pixmap is the
     * frame alone. */
    w = 2 * (ht + st + hm);
    h = 2 * (ht + st + vm);
    struct {
        Dimension width, height; /* 0: not given */
        Dimension want_width, want_height;
    } given[] = {{77, 0, w, h}, {0, 33, w, h}, {77, 33, 77, 33}};
    for (const auto& g : given) {
        Arg a[4];
        Cardinal n = 0;
        XtSetArg(a[n], XiNiconPlacement, XiIconOnly), n++;
        if (g.width) XtSetArg(a[n], XmNwidth, g.width), n++;
        if (g.height) XtSetArg(a[n], XmNheight, g.height), n++;
        Widget sized = XtCreateManagedWidget("sized", xiIconButtonWidgetClass, board, a, n);
        EXPECT_EQ(g.want_width, sized->core.width) << g.width << "x" << g.height;
        EXPECT_EQ(g.want_height, sized->core.height) << g.width << "x" << g.height;
        XtDestroyWidget(sized);
    }
}

TEST_F(IconButtonTest, BitmapDrawsForegroundOnBackgroundOrArmColour)
{
    /* Left half of the bitmap set, right half clear. */
    Display* d = WidgetTest::display();
    char bits[2 * 8];
    for (int y = 0; y < 8; y++) {
        bits[2 * y] = (char)0x3f;
        bits[2 * y + 1] = 0;
    }
    Pixmap icon = XCreateBitmapFromData(d, DefaultRootWindow(d), bits, 12, 8);
    Arg args[2];
    XtSetArg(args[0], XmNpixmap, icon);
    XtSetArg(args[1], XiNiconPlacement, XiIconOnly);
    make(args, 2);
    Pixel fg, bg, arm;
    XtVaGetValues(button, XmNforeground, &fg, XmNbackground, &bg, XmNarmColor, &arm, NULL);
    ASSERT_NE(fg, bg);
    ASSERT_NE(arm, bg);
    int x = (button->core.width - 12) / 2, y = (button->core.height - 8) / 2;
    /* Other tests share the display and their windows may cover ours at any
     * moment, losing what was drawn there. Redirected off screen, our window
     * keeps its contents and reads them back whatever lies on top. */
    int ev, err;
    ASSERT_TRUE(XCompositeQueryExtension(d, &ev, &err));
    XCompositeRedirectWindow(d, XtWindow(shell), CompositeRedirectManual);
    XClearArea(d, XtWindow(button), 0, 0, 0, 0, True);
    WidgetTest::settle();
    auto pixel = [&](int px, int py) {
        XImage* img = XGetImage(d, XtWindow(button), px, py, 1, 1, AllPlanes, ZPixmap);
        Pixel p = XGetPixel(img, 0, 0);
        XDestroyImage(img);
        return p;
    };
    EXPECT_EQ(fg, pixel(x + 2, y + 4));
    EXPECT_EQ(bg, pixel(x + 9, y + 4));

    XtVaSetValues(button, XmNset, True, NULL);
    WidgetTest::settle();
    EXPECT_EQ(fg, pixel(x + 2, y + 4));
    EXPECT_EQ(arm, pixel(x + 9, y + 4));
}

/* One button through a run of events: a second click within the
 * multi-click time is a double click only, a later one a single click
 * again; press shows it set and leaving cancels; Return flashes it set
 * while it notifies. */
TEST_F(IconButtonTest, ClicksDoubleClicksLeavingAndKeyboard)
{
    make(nullptr, 0);
    const Time limit = XtGetMultiClickTime(XtDisplay(button));
    const Time late = 1000 + 20 + limit / 2 + 10 * limit; /* far past the second click */
    struct {
        int type;
        Time t;
        int activate, double_click;
        bool set;
    } steps[] = {
        {ButtonPress, 1000, 0, 0, true},
        {ButtonRelease, 1010, 1, 0, false}, /* press and release restore the look */
        {ButtonPress, 1010 + limit / 2, 1, 0, true},
        {ButtonRelease, 1020 + limit / 2, 1, 1, false},
        {ButtonPress, late, 1, 1, true},
        {ButtonRelease, late + 10, 2, 1, false},
        {ButtonPress, late + 10 * limit, 2, 1, true},
        {LeaveNotify, late + 10 * limit + 5, 2, 1, false},
        {ButtonRelease, late + 10 * limit + 10, 2, 1, false},
        {KeyPress, late + 20 * limit, 3, 1, true},
    };
    for (auto& s : steps) {
        SCOPED_TRACE(testing::Message() << "event " << s.type << " at " << s.t);
        send(s.type, s.t);
        EXPECT_EQ(s.activate, calls.activate);
        EXPECT_EQ(s.double_click, calls.double_click);
        EXPECT_EQ(s.set, (bool)resource<Boolean>(button, XmNset));
    }
    EXPECT_EQ(1, calls.last_state); /* the pressed look while notifying */
    EXPECT_TRUE(WidgetTest::settle_until([&] { return !resource<Boolean>(button, XmNset); }, 5));
}

/* The text comes from XiNlabel, or else from the name. */
TEST_F(IconButtonTest, LabelFromLabelOrName)
{
    Arg args[1];
    XtSetArg(args[0], XiNlabel, "from label");
    make(args, 1);
    Widget named = XtCreateWidget("by_name", xiIconButtonWidgetClass, board, nullptr, 0);
    for (auto [w, expected] : {std::pair{button, "from label"}, {named, "by_name"}}) {
        XmString s = nullptr;
        char* text = nullptr;
        XtVaGetValues(w, XmNlabelString, &s, NULL);
        XmStringGetLtoR(s, (char*)XmFONTLIST_DEFAULT_TAG, &text);
        EXPECT_STREQ(expected, text);
        XtFree(text);
        XmStringFree(s);
    }
}

} // namespace
