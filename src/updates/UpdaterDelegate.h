#pragma once

#include <QString>

class SoftwareUpdater;

// Tells the updater where the update feed is. The shared instance lives until the process ends.
// Thread-safety: immutable after construction; safe from any thread.
class UpdaterDelegate {
  public:
    // Created on first use; takes the address from LUMAREX_UPDATE_FEED_URL if that is set then,
    // otherwise the maker's feed.
    static UpdaterDelegate& shared();

    // The same choice as shared(), made now (for tests that need a delegate of their own).
    UpdaterDelegate();
    // A delegate that always answers `feedUrl`.
    explicit UpdaterDelegate(QString feedUrl);

    UpdaterDelegate(const UpdaterDelegate&) = delete;
    UpdaterDelegate& operator=(const UpdaterDelegate&) = delete;

    // The feed address as text; the same on every call, whichever updater asks.
    QString feedURLStringForUpdater(const SoftwareUpdater* updater = nullptr) const;

  private:
    const QString feedUrl_;
};
