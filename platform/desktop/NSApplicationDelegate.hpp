#pragma once

#include "desktop/NSResponder.hpp"
#include "foundation/URL.hpp"

#include <vector>

namespace velmora {

class NSApplication;

// What the application tells and asks its delegate. The delegate is a responder
// after the application in the chain of menu actions, so it answers the
// application-wide commands it registers.
class NSApplicationDelegate : public NSResponder {
public:
    virtual void applicationWillFinishLaunching(NSApplication&) {}
    virtual void applicationDidFinishLaunching(NSApplication&) {}
    // Asked at launch when no document was opened: true opens an untitled one.
    virtual bool applicationShouldOpenUntitledFile(NSApplication&) { return true; }
    // Files another launch or the desktop hands over: by default each is
    // opened and shown, a failure shown in an alert.
    virtual void applicationOpenURLs(NSApplication& application, const std::vector<URL>& urls);
    virtual void applicationWillTerminate(NSApplication&) {}
};

} // namespace velmora
