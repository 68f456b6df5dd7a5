#pragma once
// The host without a window: the main loop only serves the main queue. Snapshots are
// still composed as the window would show them, with an offscreen context made on the
// main thread the first time one is asked for.
#include "host/HostCore.h"
#include "pipeline/EGLOffscreenContext.h"

namespace host {

class HeadlessHost : public HostCore {
  public:
    using HostCore::HostCore;
    ~HeadlessHost() override;

  protected:
    void runLoop() override;
    ScreenComposer* composer(NSError* error) override;

  private:
    std::unique_ptr<EGLOffscreenContext> context_;
    std::unique_ptr<ScreenComposer> composer_;
};

} // namespace host
