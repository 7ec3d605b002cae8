#pragma once

// Switches the whole process to a locale whose decimal separator is a comma,
// as a desktop session in German would, and back to "C" on destruction. When
// the system has no such locale compiled, one is built with localedef into a
// temporary folder.
class CommaLocale {
public:
    CommaLocale();
    ~CommaLocale();
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const { return active_; }

private:
    bool active_ = false;
};
