// The grab of one node as a state machine, without a node.

#include "Platform/Linux/Input/NodeGrab.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tindlewave {
namespace {

using Phase = NodeGrab::Phase;
using Step = NodeGrab::Step;
using Next = NodeGrab::Next;

TEST(NodeGrab, AWantedNodeOpensSettlesWhileKeysAreDownAndIsGrabbedUntilNoLongerWanted) {
    NodeGrab grab;
    EXPECT_EQ(grab.refresh(false, false), Step::none);
    EXPECT_EQ(grab.refresh(true, false), Step::open);
    grab.opened();
    EXPECT_EQ(grab.phase(), Phase::settling);
    EXPECT_TRUE(grab.isOpen());
    // One look at a time.
    EXPECT_EQ(grab.refresh(true, true), Step::none);
    EXPECT_EQ(grab.refresh(true, false), Step::look);
    EXPECT_FALSE(grab.mayLook(false));
    ASSERT_TRUE(grab.mayLook(true));
    EXPECT_EQ(grab.keysLooked(0, true), Next::later);
    EXPECT_EQ(grab.keysLooked(EIO, false), Next::stay);
    EXPECT_EQ(grab.phase(), Phase::settling);
    EXPECT_EQ(grab.keysLooked(0, false), Next::grab);
    EXPECT_EQ(grab.grabAnswered(0), Next::grabbed);
    EXPECT_TRUE(grab.isGrabbed());
    EXPECT_FALSE(grab.mayLook(true));
    EXPECT_EQ(grab.refresh(true, false), Step::none);

    EXPECT_EQ(grab.refresh(false, false), Step::close);
    grab.closed();
    EXPECT_EQ(grab.phase(), Phase::closed);
    EXPECT_FALSE(grab.isOpen());
}

TEST(NodeGrab, TheMirrorIsWaitedForOnceAndAKeyDownBeforeTheGrabLetsItGo) {
    NodeGrab grab;
    grab.opened();
    ASSERT_TRUE(grab.waitsForMirror());
    EXPECT_EQ(grab.mirrorLooked(false), Next::later);
    EXPECT_EQ(grab.mirrorLooked(true), Next::grab);
    EXPECT_FALSE(grab.waitsForMirror());
    EXPECT_EQ(grab.mirrorLooked(false), Next::grab);  // once shown, shown
    // Opened anew, a new mirror is waited for again.
    grab.closed();
    grab.opened();
    EXPECT_TRUE(grab.waitsForMirror());
    EXPECT_EQ(grab.mirrorLooked(true), Next::grab);

    ASSERT_EQ(grab.grabAnswered(0), Next::grabbed);
    EXPECT_EQ(grab.grabChecked(true), Next::later);
    EXPECT_EQ(grab.phase(), Phase::settling);
    EXPECT_FALSE(grab.waitsForMirror());
    ASSERT_EQ(grab.grabAnswered(0), Next::grabbed);
    EXPECT_EQ(grab.grabChecked(false), Next::grabbed);
    EXPECT_TRUE(grab.isGrabbed());
}

TEST(NodeGrab, AStallLetsTheGrabGoAndTheNodeSettlesForTheNextOne) {
    NodeGrab grab;
    grab.opened();
    ASSERT_EQ(grab.grabAnswered(0), Next::grabbed);
    grab.letGo();
    EXPECT_EQ(grab.phase(), Phase::settling);
    EXPECT_EQ(grab.refresh(true, false), Step::look);
    // A settling node is not touched by a stall.
    grab.letGo();
    EXPECT_EQ(grab.phase(), Phase::settling);
}

TEST(NodeGrab, ANodeAnotherProgramHoldsIsTriedItsTimesThenLeftAloneUntilTriedAnew) {
    NodeGrab grab(3);
    grab.opened();
    EXPECT_EQ(grab.grabAnswered(EBUSY), Next::later);
    EXPECT_EQ(grab.grabAnswered(EBUSY), Next::later);
    EXPECT_EQ(grab.grabAnswered(EBUSY), Next::busy);
    EXPECT_EQ(grab.phase(), Phase::busy);
    // Closing its descriptor leaves it busy, and so does asking again while grabs are wanted.
    grab.closed();
    EXPECT_EQ(grab.refresh(true, false), Step::none);
    EXPECT_EQ(grab.phase(), Phase::busy);
    // No longer wanted, then wanted again: tried anew, with all its tries.
    EXPECT_EQ(grab.refresh(false, false), Step::none);
    EXPECT_EQ(grab.phase(), Phase::closed);
    EXPECT_EQ(grab.refresh(true, false), Step::open);
    grab.opened();
    EXPECT_EQ(grab.grabAnswered(EBUSY), Next::later);
    EXPECT_EQ(grab.grabAnswered(0), Next::grabbed);
}

TEST(NodeGrab, AGoneNodeIsForgottenAndTheProgramsOwnIsNeverOpened) {
    NodeGrab looked;
    looked.opened();
    EXPECT_EQ(looked.keysLooked(ENODEV, false), Next::gone);
    NodeGrab grabbing;
    grabbing.opened();
    EXPECT_EQ(grabbing.grabAnswered(ENODEV), Next::gone);

    NodeGrab own;
    own.ownDevice();
    EXPECT_EQ(own.refresh(true, false), Step::none);
    EXPECT_EQ(own.refresh(false, false), Step::none);
    own.closed();
    EXPECT_EQ(own.phase(), Phase::own);
}

}  // namespace
}  // namespace tindlewave
