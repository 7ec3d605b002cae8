#pragma once

#include <QFont>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// Text made of runs, each in a font of its own.
class NSAttributedString {
public:
    struct Run {
        std::string string;
        QFont font;
        friend bool operator==(const Run&, const Run&) = default;
    };

    NSAttributedString() = default;
    explicit NSAttributedString(std::vector<Run> runs) : runs_(std::move(runs)) {}

    const std::vector<Run>& runs() const { return runs_; }
    void append(std::string string, QFont font) {
        runs_.push_back({std::move(string), std::move(font)});
    }
    // The plain text of every run.
    std::string string() const {
        std::string text;
        for (const Run& run : runs_) {
            text += run.string;
        }
        return text;
    }

    friend bool operator==(const NSAttributedString&, const NSAttributedString&) = default;

private:
    std::vector<Run> runs_;
};

} // namespace velmora
