#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Settings/Model/Observed.h"

using namespace tindlewave;

TEST(Observed, TellsObserversOnlyOfChangesAndLetsThemLeaveWhileBeingTold) {
    enum class Field { name, count };
    Observers<Field> observers;
    Observed<std::optional<std::string>> name;
    Observed<int> count{3};
    std::vector<std::string> heard;

    Subscription second;
    auto first = observers.observe([&](Field f) {
        heard.push_back(f == Field::name ? "first:name" : "first:count");
        second.cancel();  // the later observer is not told any more, now or later
    });
    second = observers.observe([&](Field) { heard.push_back("second"); });

    EXPECT_FALSE(observers.assign(count, 3, Field::count));
    EXPECT_TRUE(observers.assign(name, std::optional<std::string>("a"), Field::name));
    EXPECT_FALSE(observers.assign(name, std::optional<std::string>("a"), Field::name));
    EXPECT_TRUE(observers.assign(count, 4, Field::count));
    EXPECT_EQ(heard, (std::vector<std::string>{"first:name", "first:count"}));
    EXPECT_EQ(count.get(), 4);

    first.cancel();
    observers.assign(count, 5, Field::count);
    EXPECT_EQ(heard.size(), 2u);

    auto outliving = std::make_unique<Observers<Field>>();
    auto late = outliving->observe([](Field) {});
    outliving.reset();
    late.cancel();  // harmless once the observers are gone
}
