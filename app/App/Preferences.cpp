#include "App/Preferences.hpp"

#include "coding/BinaryPropertyListDefaultsFormat.hpp"
#include "foundation/UserDefaults.hpp"

#include <QGuiApplication>
#include <QScreen>

namespace velmora {

Preferences& Preferences::shared() {
    // Whichever comes first, the store writes its file as a binary property list.
    static Preferences preferences(
        (BinaryPropertyListDefaultsFormat::install(), UserDefaults::standard()));
    return preferences;
}

Preferences::Preferences(UserDefaults& defaults) : defaults_(defaults) {}

QScreen* Preferences::preferredScreen() const {
    const std::optional<std::string> name = defaults_.stringForKey(preferredScreenKey);
    if (!name) {
        return nullptr;
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        if (displayName(*screen) == *name) {
            return screen;
        }
    }
    return nullptr;
}

void Preferences::setPreferredScreen(const QScreen* screen) {
    if (screen) {
        defaults_.set(displayName(*screen), preferredScreenKey);
    } else {
        defaults_.removeObjectForKey(preferredScreenKey);
    }
    notifyDelegate();
}

bool Preferences::allowDrawingWithMouse() const {
    return defaults_.boolForKey(allowDrawingWithMouseKey);
}

void Preferences::setAllowDrawingWithMouse(bool allow) {
    defaults_.set(allow, allowDrawingWithMouseKey);
    notifyDelegate();
}

Preferences::DocumentFormatConversion Preferences::documentFormatConversion() const {
    const std::optional<std::string> stored = defaults_.stringForKey(documentFormatConversionKey);
    if (!stored) {
        return DocumentFormatConversion::ask;
    }
    return documentFormatConversion(*stored).value_or(DocumentFormatConversion::ask);
}

void Preferences::setDocumentFormatConversion(DocumentFormatConversion policy) {
    defaults_.set(text(policy), documentFormatConversionKey);
    notifyDelegate();
}

bool Preferences::drawingWithMouseWarningDisabled() const {
    return defaults_.boolForKey(disableDrawingWithMouseWarningKey);
}

void Preferences::setDrawingWithMouseWarningDisabled(bool disabled) {
    defaults_.set(disabled, disableDrawingWithMouseWarningKey);
}

std::string_view Preferences::text(DocumentFormatConversion policy) {
    switch (policy) {
    case DocumentFormatConversion::ask:
        return "ask";
    case DocumentFormatConversion::keepAlways:
        return "keepAlways";
    case DocumentFormatConversion::convertAlways:
        return "convertAlways";
    }
    return "ask";
}

std::optional<Preferences::DocumentFormatConversion>
Preferences::documentFormatConversion(std::string_view text) {
    for (const auto policy : {DocumentFormatConversion::ask, DocumentFormatConversion::keepAlways,
                              DocumentFormatConversion::convertAlways}) {
        if (Preferences::text(policy) == text) {
            return policy;
        }
    }
    return std::nullopt;
}

void Preferences::notifyDelegate() {
    if (const std::shared_ptr<PreferencesDelegate> observer = delegate.lock()) {
        observer->preferencesDidChange(*this);
    }
}

std::string displayName(const QScreen& screen) {
    if (const QString model = screen.model(); !model.isEmpty()) {
        return model.toStdString();
    }
    if (const QString name = screen.name(); !name.isEmpty()) {
        return name.toStdString();
    }
    return "Unknow";
}

} // namespace velmora
