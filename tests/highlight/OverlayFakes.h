#pragma once

// Stand-ins for the overlay's platform window and pointer monitor, recording what the controller asks.

#include "highlight/CursorHighlightWindow.h"
#include "highlight/DrawnHighlightOverlay.h"
#include "highlight/HighlightSettings.h"
#include "platform/OverlaySurface.h"
#include "platform/PointerMonitor.h"

#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <vector>

namespace fakes {

struct SurfaceLog {
    int created = 0;
    int shown = 0;
    int hidden = 0;
    int contentSets = 0;
    std::vector<QPoint> moves;
    // Whether the surface offers to follow the pointer itself, and whether it does now.
    bool canFollow = false;
    bool following = false;
    int followStarts = 0;
};

class FakeSurface : public OverlaySurface {
  public:
    FakeSurface(SurfaceLog& log, QSize size) : log_(log), size_(size) { ++log_.created; }
    QSize size() const override { return size_; }
    void resize(QSize size) override { size_ = size; }
    bool isComposited() const override { return true; }
    void setCompositingChangedHandler(std::function<void()>) override {}
    void setContent(const QImage&, const QRegion&) override { ++log_.contentSets; }
    void show() override { ++log_.shown; }
    void hide() override { ++log_.hidden; }
    void moveTo(QPoint topLeft) override { log_.moves.push_back(topLeft); }
    bool startFollowingPointer() override {
        if (!log_.canFollow)
            return false;
        ++log_.followStarts;
        log_.following = true;
        return true;
    }
    void stopFollowingPointer() override { log_.following = false; }

  private:
    SurfaceLog& log_;
    QSize size_;
};

struct PointerState {
    std::optional<QPoint> position = QPoint(500, 300);
    std::function<void()> onPress;
    std::function<void()> onMotion;
    int pressWatchStarts = 0;
    int pressWatchStops = 0;
    bool reportsMotion = true;
};

class FakePointer : public PointerMonitor {
  public:
    explicit FakePointer(PointerState& state) : state_(state) {}
    bool startWatchingPresses(std::function<void()> onLeftPress) override {
        ++state_.pressWatchStarts;
        state_.onPress = std::move(onLeftPress);
        return true;
    }
    void stopWatchingPresses() override {
        ++state_.pressWatchStops;
        state_.onPress = nullptr;
    }
    bool watchNextMotion(std::function<void()> onMotion) override {
        if (!state_.reportsMotion)
            return false;
        state_.onMotion = std::move(onMotion);
        return true;
    }
    void cancelMotionWatch() override { state_.onMotion = nullptr; }
    std::optional<QPoint> position() override { return state_.position; }

  private:
    PointerState& state_;
};

// An overlay controller over an application-drawn overlay on the fakes above, with its settings file in
// a temporary folder.
struct FakeOverlayRig {
    FakeOverlayRig()
        : settings(directory.filePath("Lumarex.conf")),
          overlay(
              [this](HighlightSettings& look, Click& click) {
                  auto made = std::make_unique<DrawnHighlightOverlay>(
                      [this](QSize size) { return std::make_unique<FakeSurface>(surface, size); },
                      std::make_unique<FakePointer>(pointer), look, click);
                  drawn = made.get();
                  return made;
              },
              settings) {}

    int activePressWatches() const { return pointer.pressWatchStarts - pointer.pressWatchStops; }

    QTemporaryDir directory;
    HighlightSettings settings;
    SurfaceLog surface;
    PointerState pointer;
    DrawnHighlightOverlay* drawn = nullptr;
    CursorHighlightWindow overlay;
};

} // namespace fakes
