#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QScreen;

namespace velmora {

class Preferences;
class UserDefaults;

// Told after every change made through the preferences (the pane adopts it).
class PreferencesDelegate {
public:
    virtual ~PreferencesDelegate() = default;
    virtual void preferencesDidChange(Preferences& preferences) = 0;
};

// The user's application preferences, kept in the user defaults. Main thread only.
class Preferences {
public:
    // Policy for opened flat images; the stored text is the case's name.
    enum class DocumentFormatConversion { ask, keepAlways, convertAlways };

    static constexpr std::string_view preferredScreenKey = "Preferred Screen";
    static constexpr std::string_view allowDrawingWithMouseKey = "Allow Drawing with Mouse";
    static constexpr std::string_view documentFormatConversionKey = "Document Format Conversion";
    static constexpr std::string_view disableDrawingWithMouseWarningKey =
        "Disable Drawing With Mouse Warning";

    // Over the standard user defaults, made at first use and kept until exit.
    static Preferences& shared();

    // `defaults` must outlive the preferences.
    explicit Preferences(UserDefaults& defaults);
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

    std::weak_ptr<PreferencesDelegate> delegate;
    UserDefaults& defaults() const { return defaults_; }

    // The first screen, in the application's order, whose display name is the
    // stored one; none when nothing is stored or no attached screen has that name.
    QScreen* preferredScreen() const;
    // Stores the screen's display name; none removes the stored name.
    void setPreferredScreen(const QScreen* screen);

    bool allowDrawingWithMouse() const;
    void setAllowDrawingWithMouse(bool allow);

    // A stored text other than the three policies (the file is user-editable) reads as `ask`.
    DocumentFormatConversion documentFormatConversion() const;
    void setDocumentFormatConversion(DocumentFormatConversion policy);

    // Read and written by the draw-with-mouse warning; the delegate is not told.
    bool drawingWithMouseWarningDisabled() const;
    void setDrawingWithMouseWarningDisabled(bool disabled);

    static std::string_view text(DocumentFormatConversion policy);
    static std::optional<DocumentFormatConversion> documentFormatConversion(std::string_view text);

private:
    void notifyDelegate();

    UserDefaults& defaults_;
};

// The screen's product name, else its connector name ("HDMI-1"), else "Unknow".
std::string displayName(const QScreen& screen);

} // namespace velmora
