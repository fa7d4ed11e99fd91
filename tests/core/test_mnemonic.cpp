/* The mnemonic of a translated label: one it shows, not one a sibling has. */
#include <gtest/gtest.h>

#include "core/mnemonic.h"

TEST(Mnemonic, FromTheLabelItLabels)
{
    struct Case {
        const char* label;
        char preferred;
        const char* taken;
        char expected;
    } cases[] = {
        {"File", 'F', "", 'F'},
        {"Exit", 'x', "F", 'x'},
        {"Bearbeiten", 'E', "DO", 'e'},    /* the label's own case */
        {"Datei", 'F', "", 'D'},           /* lacking it: its first letter */
        {"Holen...", 'G', "A", 'H'},
        {"Aktion", 'A', "AH", 'k'},        /* not a sibling's, even when preferred */
        {"AH", 'A', "AH", 'A'},            /* all taken: the preferred stays */
        {"Löschen", 'D', "sL", 'c'},       /* skips taken letters and non-ASCII */
        {"Übersicht", 'V', "", 'b'},
        {"...", 'X', "", 'X'},             /* nothing to take: the preferred stays */
        {"Datei", 0, "", 0},               /* no mnemonic asked, none given */
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, choose_mnemonic(c.label, c.preferred, c.taken)) << c.label;
}
