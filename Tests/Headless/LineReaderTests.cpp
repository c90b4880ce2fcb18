// Standard input and scripts split into lines, whatever the chunks they arrive in.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tindlewave-headless/LineReader.h"

namespace tindlewave::headless {
namespace {

// Every line of `input`, fed in chunks of `size` bytes, then the end; a too long line as "!".
std::vector<std::string> linesOf(const std::string& input, std::size_t size, std::size_t limit) {
    LineReader reader(limit);
    std::vector<std::string> lines;
    std::size_t expected = 1;
    auto take = [&](LineReader::Line line) {
        EXPECT_EQ(line.number, expected++);
        lines.push_back(line.tooLong ? "!" : line.text);
    };
    for (std::size_t at = 0; at < input.size(); at += size) reader.append(input.substr(at, size), take);
    if (auto last = reader.finish()) take(std::move(*last));
    return lines;
}

TEST(LineReader, LinesComeWholeInOrderWhereverTheChunksEnd) {
    const std::string input = "status\n\nattach mouse a b.json\n# note\nquit";
    const std::vector<std::string> expected{"status", "", "attach mouse a b.json", "# note", "quit"};
    for (std::size_t size = 1; size <= input.size(); ++size) {
        EXPECT_EQ(linesOf(input, size, 64), expected) << "chunks of " << size;
    }
    EXPECT_EQ(linesOf("quit\n", 2, 64), std::vector<std::string>{"quit"});
    EXPECT_TRUE(linesOf("", 1, 64).empty());
}

TEST(LineReader, ALineOverTheLimitIsHandedOnAsTooLongAndTheNextOneIsRead) {
    const std::string atLimit(8, 'a');
    const std::string over(9, 'b');
    for (std::size_t size = 1; size <= 12; ++size) {
        EXPECT_EQ(linesOf(atLimit + "\n" + over + "\nstatus\n" + over, size, 8),
                  (std::vector<std::string>{atLimit, "!", "status", "!"}))
            << "chunks of " << size;
    }
    // A line far over the limit keeps nothing of itself.
    LineReader reader(8);
    std::vector<LineReader::Line> lines;
    reader.append(std::string(1 << 20, 'x'), [&](LineReader::Line line) { lines.push_back(line); });
    reader.append("x\nhelp\n", [&](LineReader::Line line) { lines.push_back(line); });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].tooLong);
    EXPECT_TRUE(lines[0].text.empty());
    EXPECT_EQ(lines[1].text, "help");
}

}  // namespace
}  // namespace tindlewave::headless
