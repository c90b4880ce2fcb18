#pragma once

#include <span>
#include <string>

#include "Settings/Model/General/LogReader.h"
#include "Settings/Model/Texts/TimeText.h"

namespace tindlewave {

// One log line as the log sheet lists and copies it: the time, two blanks, the category, two
// blanks, the message.
std::string logLineText(const LogLine& line, const TimeText& time);
// Every line's text joined by line feeds, with none after the last.
std::string logCopyText(std::span<const LogLine> lines, const TimeText& time);

}  // namespace tindlewave
