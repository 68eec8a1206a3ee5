#pragma once

#include "Installer/PluginInstaller.h"
#include "Platform/Http.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace Hub {

// One artifact download into a given file. The body streams to a hidden
// partial file beside the target, counted and hashed as it is written, and
// becomes the target only when the server answered 200 and every byte is
// written (for a durable download, flushed to the disk too); on every other
// outcome the partial file is removed and the target is left alone. One
// downloader per download.
class ArtifactDownloader {
public:
    // `label` names the format in the user's sentence ("VST3"); when
    // `expectedSize` is present and positive the download stops as soon as
    // more bytes arrive. `progress` gets the fraction done (0 to 1), only
    // when the server sent a length.
    ArtifactDownloader(QString target, QString label, std::optional<qint64> expectedSize,
                       std::function<void(double)> progress);

    // Whether the finished file is flushed to the disk before it becomes the
    // target (the default). A download that is unpacked and deleted within
    // the same operation, in a folder that a crash abandons, skips the flush.
    void setDurable(bool durable) { m_durable = durable; }

    // Seconds without a byte before the download fails (kIdleTimeout).
    void setIdleTimeout(double seconds) { m_idleTimeout = seconds; }

    // Blocks until the file is at the target. Throws HubError: cancelled
    // when the session's stop token fires, else a sentence for the user; a
    // download slower than the session's downloadRate fails as a lost
    // connection does.
    PluginInstaller::Downloaded run(const QUrl& url, const Http::Session& session) const;

    // "<folder>/.<name>.partial"
    QString partialPath() const;

    static constexpr double kIdleTimeout = 60.0; // seconds without a byte

private:
    QString m_target;
    QString m_label;
    std::optional<qint64> m_expectedSize;
    std::function<void(double)> m_progress;
    bool m_durable = true;
    double m_idleTimeout = kIdleTimeout;
};

} // namespace Hub
