#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Model/VariantRecord.h"

namespace tindlewave {

// What the recorder field asks of the user while it records.
struct RecorderHint {
    enum class Kind {
        gettingReady,  // recording is being prepared; input is not taken yet
        prompt,        // waiting for input
        problem,       // the input just given is refused
    };
    Kind kind = Kind::prompt;
    std::string text;

    static RecorderHint gettingReady(std::string text) { return {Kind::gettingReady, std::move(text)}; }
    static RecorderHint prompt(std::string text) { return {Kind::prompt, std::move(text)}; }
    static RecorderHint problem(std::string text) { return {Kind::problem, std::move(text)}; }

    bool operator==(const RecorderHint&) const = default;
};

// What the recorder field shows: what is recorded, at rest, or the recording in progress.
struct RecorderFieldState {
    struct Idle {
        std::vector<std::string> chips;
        std::optional<std::string> label;
        bool operator==(const Idle&) const = default;
    };
    struct Recording {
        std::vector<std::string> chips;  // recorded so far
        RecorderHint hint;
        std::optional<std::string> trailing;
        bool operator==(const Recording&) const = default;
    };

    std::variant<Idle, Recording> value{Idle{}};

    static RecorderFieldState idle(std::vector<std::string> chips, std::optional<std::string> label = {}) {
        return {Idle{std::move(chips), std::move(label)}};
    }
    static RecorderFieldState recording(std::vector<std::string> chips, RecorderHint hint,
                                        std::optional<std::string> trailing = {}) {
        return {Recording{std::move(chips), std::move(hint), std::move(trailing)}};
    }

    bool isRecording() const { return std::holds_alternative<Recording>(value); }

    // The text a screen reader reads: at rest the chips then the label; while recording the hint,
    // then the chips, then the trailing text; joined by ", ".
    std::string accessibilityLabel() const;

    bool operator==(const RecorderFieldState&) const = default;
};

}  // namespace tindlewave
