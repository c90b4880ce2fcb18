#include <gtest/gtest.h>

#include <type_traits>

#include "Core/Tap/Event.h"
#include "Core/Tap/TapMask.h"

namespace tindlewave {
namespace {

static_assert(std::is_trivially_copyable_v<Event>, "an event is plain data");

TEST(Event, FieldsAreKeptByTheirNumbersAndStartAtZero) {
    Event e;
    EXPECT_EQ(e.integer(IntegerField::keyCode), 0);
    EXPECT_EQ(e.fixedPoint(FixedPointField::scrollFixedDelta1), 0.0);

    const IntegerField all[] = {
        IntegerField::buttonNumber, IntegerField::deltaX,        IntegerField::deltaY,
        IntegerField::autorepeat,   IntegerField::keyCode,       IntegerField::scrollDelta1,
        IntegerField::scrollDelta2, IntegerField::userData,      IntegerField::scrollIsContinuous,
        IntegerField::scrollPhase,  IntegerField::momentumPhase,
    };
    std::int64_t value = 100;
    for (auto f : all) e.setInteger(f, value++);
    e.setFixedPoint(FixedPointField::scrollFixedDelta1, 0.25);
    e.setFixedPoint(FixedPointField::scrollFixedDelta2, -1.5);
    value = 100;
    for (auto f : all) EXPECT_EQ(e.integer(f), value++) << static_cast<int>(f);
    EXPECT_EQ(e.fixedPoint(FixedPointField::scrollFixedDelta1), 0.25);
    EXPECT_EQ(e.fixedPoint(FixedPointField::scrollFixedDelta2), -1.5);

    // A number the event does not carry reads as zero and is not stored anywhere.
    Event before = e;
    e.setInteger(static_cast<IntegerField>(7), 9);
    EXPECT_EQ(e.integer(static_cast<IntegerField>(7)), 0);
    EXPECT_EQ(e, before);
}

TEST(Event, MarkerAndMask) {
    Event e;
    EXPECT_FALSE(e.carriesMarker());
    e.mark();
    EXPECT_TRUE(e.carriesMarker());
    EXPECT_EQ(e.integer(IntegerField::userData), 0x544E4457);

    EXPECT_EQ(tapMask, 0x0E400C98u);
    EXPECT_EQ(eventMaskBit(EventType::tapDisabledByTimeout), 0u);
}

}  // namespace
}  // namespace tindlewave
