#pragma once

namespace velmora {

// Runs `DispatchQueue::main()`, and with it every `Timer`, in Qt's event loop on
// the main thread, nested loops (modal runs, dialogs) included. Call `bind()` on
// the main thread once a QCoreApplication exists; `unbind()` before it goes.
class QtMainQueue {
public:
    static void bind();
    static void unbind();
    static bool isBound();
};

} // namespace velmora
