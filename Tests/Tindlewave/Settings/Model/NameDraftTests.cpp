#include <gtest/gtest.h>

#include "Settings/Model/Window/NameDraft.h"

namespace tindlewave {
namespace {

TEST(NameDraft, CommitsATrimmedChangedNameAndKeepsTheDraftUntilTheNameArrives) {
    NameDraft draft;
    EXPECT_EQ(draft.commit("Mouse"), std::nullopt);  // focus alone makes no draft
    draft.typed("  Desk mouse \n");
    EXPECT_EQ(draft.commit("Mouse"), "Desk mouse");
    EXPECT_EQ(draft.shown("Mouse"), "  Desk mouse \n");
    draft.nameChanged("Mouse", "Mouse");  // a refresh with the same name keeps the typing
    EXPECT_TRUE(draft.draft());
    draft.nameChanged("Mouse", "Desk mouse");
    EXPECT_FALSE(draft.draft());
    EXPECT_EQ(draft.shown("Desk mouse"), "Desk mouse");

    // A refused name gives way to the name in force; what was typed on since stays.
    draft.typed(" Travel mouse");
    EXPECT_EQ(draft.commit("Desk mouse"), "Travel mouse");
    draft.refused("Travel mouse");
    EXPECT_FALSE(draft.draft());
    EXPECT_EQ(draft.shown("Desk mouse"), "Desk mouse");
    draft.typed("Travel mouse");
    EXPECT_EQ(draft.commit("Desk mouse"), "Travel mouse");
    draft.typed("Travel mouse 2");
    draft.refused("Travel mouse");
    EXPECT_EQ(draft.shown("Desk mouse"), "Travel mouse 2");
}

TEST(NameDraft, RestoresTheNameOnBlankUnchangedOrCancelledText) {
    NameDraft draft;
    for (const char* text : {"", "   ", "\t\u00A0\n", " Mouse "}) {
        draft.typed(text);
        EXPECT_EQ(draft.commit("Mouse"), std::nullopt) << text;
        EXPECT_FALSE(draft.draft()) << text;
    }
    draft.typed("Other");
    draft.cancel();
    EXPECT_EQ(draft.shown("Mouse"), "Mouse");
    EXPECT_EQ(draft.commit("Mouse"), std::nullopt);
}

}  // namespace
}  // namespace tindlewave
