#pragma once

// The document side of a drawing controller in the application's benchmarks:
// its undo manager and lock, its bitmap provider, and the view it draws into.

#include "Document/BitmapProvider.hpp"
#include "Document/UndoLock.hpp"
#include "Document/Viewers/DrawingController.hpp"
#include "desktop/UndoManager.hpp"

#include <memory>

namespace velmora::bench {

class BenchDocument : public UndoLockable,
                      public BitmapReceiver,
                      public std::enable_shared_from_this<BenchDocument> {
public:
    std::shared_ptr<UndoLock> makeUndoLock() override {
        struct Lock : UndoLock {
            std::shared_ptr<BenchDocument> document;
        };
        auto lock = std::make_shared<Lock>();
        lock->document = shared_from_this();
        return lock;
    }
    std::shared_ptr<BitmapProvider> bitmapProvider() const override { return provider.lock(); }
    void setBitmapProvider(const std::shared_ptr<BitmapProvider>& p) override { provider = p; }

    std::shared_ptr<UndoManager> undoManager = std::make_shared<UndoManager>();
    std::weak_ptr<BitmapProvider> provider;

    // The controller's view.
    struct ViewDelegate : DrawingControllerDelegate {
        std::shared_ptr<MTKView> canvasView() override { return view; }
        std::shared_ptr<MTKView> view;
    };
};

} // namespace velmora::bench
