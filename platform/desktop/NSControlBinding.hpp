#pragma once

#include "desktop/NSKeyValueObservation.hpp"
#include "desktop/NumberFormatter.hpp"
#include "desktop/ObservableProperty.hpp"
#include "desktop/ValueTransformer.hpp"

#include <QMetaObject>
#include <QPointer>
#include <any>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

class QAbstractButton;
class QAbstractSlider;
class QLineEdit;
class QWidget;

namespace velmora {

// The model side of a binding: how to read and write the value and how to
// hear that it changed (the returned token keeps the observation).
struct BindableValue {
    std::function<std::any()> read;
    std::function<void(const std::any&)> write;
    std::function<NSKeyValueObservation(std::function<void()> changed)> observe;

    // A property of a number, Boolean or text type.
    template <class T> static BindableValue of(ObservableProperty<T>& property) {
        BindableValue value;
        value.read = [&property] { return std::any(property.get()); };
        value.write = [&property](const std::any& written) {
            if constexpr (std::is_same_v<T, bool>) {
                if (const bool* flag = std::any_cast<bool>(&written)) {
                    property.set(*flag);
                }
            } else if constexpr (std::is_arithmetic_v<T>) {
                if (std::optional<double> number = numberValue(written)) {
                    property.set(static_cast<T>(*number));
                }
            } else if (std::optional<std::string> text = stringValue(written)) {
                property.set(T(*text));
            }
        };
        value.observe = [&property](std::function<void()> changed) {
            return property.observe(NSKeyValueObservingOptions::none,
                                    [changed](const auto&) { changed(); });
        };
        return value;
    }
};

struct BindingOptions {
    // A registered transformer between value and control; empty for none.
    std::string valueTransformerName;
    // Text fields: how numbers become text and typed text numbers.
    std::shared_ptr<const NumberFormatter> formatter;
    // Sliders: positions per unit of the (transformed) value; Qt's sliders are whole numbers.
    double sliderScale = 1;
};

// A control bound to a value: each change of the value updates the control;
// each edit of the user goes back through the reverse transformation into the
// value, and an edit that transforms to nothing changes nothing (the control
// shows the value again). Text fields commit when editing ends, sliders and
// buttons at once. Lasts as long as this object; main thread only.
class NSControlBinding {
public:
    // A transformer name that is not registered ends the program: bindings are the application's.
    static std::unique_ptr<NSControlBinding> bind(QLineEdit* field, BindableValue value,
                                                  BindingOptions options = {});
    static std::unique_ptr<NSControlBinding> bind(QAbstractSlider* slider, BindableValue value,
                                                  BindingOptions options = {});
    // A check box: Boolean values (numbers count as true when not 0).
    static std::unique_ptr<NSControlBinding> bind(QAbstractButton* button, BindableValue value,
                                                  BindingOptions options = {});
    ~NSControlBinding();
    NSControlBinding(const NSControlBinding&) = delete;
    NSControlBinding& operator=(const NSControlBinding&) = delete;

    // Shows the value in the control.
    void refresh();

private:
    enum class Kind { field, slider, button };
    NSControlBinding(Kind kind, QWidget* control, BindableValue value, BindingOptions options);
    void start();
    void commit(std::any edited);

    Kind kind_;
    QPointer<QWidget> control_;
    BindableValue value_;
    BindingOptions options_;
    std::shared_ptr<ValueTransformer> transformer_;
    NSKeyValueObservation observation_;
    QMetaObject::Connection connection_;
    bool writing_ = false;
};

} // namespace velmora
