#include "platform/gnome/GnomeExtensionInstaller.h"

#include "platform/gnome/GnomeShellExtension.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>

// GLib names a structure member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gsettingsbackend.h>
#pragma pop_macro("signals")

#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kShellPath = QStringLiteral("/org/gnome/Shell");
const QString kExtensions = QStringLiteral("org.gnome.Shell.Extensions");
// The Shell's extension type of one in the user's own folder.
constexpr int kPerUser = 2;
// The Shell answers from its main loop; a busy one is worth a little patience when the user asked.
constexpr int kBusTimeoutMs = 5000;

QString uuid() {
    return QString::fromLatin1(GnomeShellExtension::kUuid);
}

QString extensionsFolder(const QString& dataDir) {
    return dataDir + QStringLiteral("/gnome-shell/extensions");
}

// The version an extension folder's metadata names; empty when it has none.
QString versionIn(const QString& folder) {
    QFile file(folder + QStringLiteral("/metadata.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("version-name")).toString();
}

QString fromStd(const std::error_code& error) {
    return QString::fromLocal8Bit(error.message());
}

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct StrvFree {
    void operator()(gchar** strv) const { g_strfreev(strv); }
};
using Strv = std::unique_ptr<gchar*, StrvFree>;

// `list` with `uuid` added (or taken out), or null when it already is as wanted.
Strv withUuid(gchar* const* list, const QByteArray& uuid, bool present) {
    std::vector<const gchar*> items;
    bool found = false;
    for (gchar* const* item = list; *item; ++item) {
        if (uuid == *item) {
            found = true;
            if (!present)
                continue;
        }
        items.push_back(*item);
    }
    if (found == present)
        return nullptr;
    if (present)
        items.push_back(uuid.constData());
    items.push_back(nullptr);
    return Strv(g_strdupv(const_cast<gchar**>(items.data())));
}

} // namespace

GnomeExtensionInstaller::Places GnomeExtensionInstaller::standardPlaces() {
    Places places;
    QStringList dataDirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    if (!dataDirs.isEmpty())
        places.userDataDir = dataDirs.takeFirst();
    places.systemDataDirs = dataDirs;
    places.programDataDir =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share"));
    return places;
}

GnomeExtensionInstaller::GnomeExtensionInstaller(QDBusConnection bus, QString version, Places places)
    : bus_(std::move(bus)), version_(std::move(version)), places_(std::move(places)) {}

QVariantMap GnomeExtensionInstaller::extensionInfo(QString* error) const {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kShell, kShellPath, kExtensions, QStringLiteral("GetExtensionInfo"));
    call << uuid();
    const QDBusReply<QVariantMap> reply = bus_.call(call, QDBus::Block, kBusTimeoutMs);
    if (!reply.isValid()) {
        *error = reply.error().message();
        return {};
    }
    return reply.value();
}

GnomeExtensionInstaller::Result GnomeExtensionInstaller::installAndEnable() {
    QString error;
    const QVariantMap info = extensionInfo(&error);
    if (!error.isEmpty())
        return {false,
                QStringLiteral("Lumarex could not reach GNOME Shell's extension service on the session "
                               "bus (%1), so it cannot turn on its extension. Once GNOME Shell runs, "
                               "enable it with \"gnome-extensions enable %2\".")
                    .arg(error, uuid())};

    // Off as a whole, the Shell runs no extension; an enabled one starts when they are switched on again.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kShell, kShellPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kExtensions << QStringLiteral("UserExtensionsEnabled");
    const QDBusMessage reply = bus_.call(get, QDBus::Block, kBusTimeoutMs);
    const bool extensionsOn = reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
                              reply.arguments().front().value<QDBusVariant>().variant().toBool();

    // An empty answer: this Shell has not seen the extension (it reads its folders at login).
    Result result = info.contains(QStringLiteral("state")) ? describeKnown(info, false, extensionsOn)
                                                           : installForNextLogin();
    if (!extensionsOn) {
        result.active = false;
        const QString off = QStringLiteral(
            "GNOME's extensions are switched off as a whole, so none runs, Lumarex's included: "
            "switch on Extensions in the Extensions application (or run \"gsettings set "
            "org.gnome.shell disable-user-extensions false\").");
        result.message = result.message.isEmpty() ? off : result.message + QLatin1Char(' ') + off;
    }
    return result;
}

GnomeExtensionInstaller::Result GnomeExtensionInstaller::describeKnown(const QVariantMap& info,
                                                                       bool justEnabled, bool extensionsOn) {
    const int state = int(info.value(QStringLiteral("state")).toDouble());
    const QString path = info.value(QStringLiteral("path")).toString();
    switch (state) {
    case Enabled: {
        const QString running = info.value(QStringLiteral("version-name")).toString();
        if (running == version_) {
            if (justEnabled)
                return {true, {}};
            return {false, QStringLiteral("GNOME Shell runs the Lumarex extension, but it does not answer on "
                                          "the session bus. Log out and back in; if that does not help, "
                                          "GNOME Shell's log (journalctl --user) says why.")};
        }
        // The Shell runs what it loaded at login; the folder may hold a newer copy by now.
        if (versionIn(path) == version_)
            return {false, QStringLiteral("Lumarex %1's GNOME Shell extension is installed, but GNOME Shell "
                                          "still runs version %2, which it loaded when you logged in. Log "
                                          "out and back in to use the new one.")
                               .arg(version_, running)};
        if (int(info.value(QStringLiteral("type")).toDouble()) == kPerUser)
            return {false,
                    QStringLiteral("GNOME Shell runs version %1 of the Lumarex extension from your own "
                                   "folder %2, which comes before the one this Lumarex %3 brings. "
                                   "Remove that folder, then log out and back in.")
                        .arg(running, path, version_)};
        return {false,
                QStringLiteral("GNOME Shell runs version %1 of the Lumarex extension, from %2, but this "
                               "is Lumarex %3. Install Lumarex %3 again (it brings its extension), "
                               "then log out and back in.")
                    .arg(running, path, version_)};
    }
    case Disabled:
    case Initialized: {
        if (justEnabled) // the Shell starts it from its main loop, a moment after it was listed
            return {true, {}};
        // With extensions off as a whole the Shell says none can change, though the list can.
        if (extensionsOn && !info.value(QStringLiteral("canChange"), true).toBool())
            return {false, QStringLiteral("The list of enabled GNOME Shell extensions is locked on this "
                                          "system, so Lumarex cannot enable its extension. Ask the "
                                          "system's administrator to enable %1.")
                               .arg(uuid())};
        QDBusMessage call = QDBusMessage::createMethodCall(kShell, kShellPath, kExtensions,
                                                           QStringLiteral("EnableExtension"));
        call << uuid();
        const QDBusReply<bool> enabled = bus_.call(call, QDBus::Block, kBusTimeoutMs);
        if (!enabled.isValid() || !enabled.value())
            return {false,
                    QStringLiteral("GNOME Shell did not enable the Lumarex extension%1. Enable it with "
                                   "\"gnome-extensions enable %2\" or in the Extensions application.")
                        .arg(enabled.isValid() ? QString()
                                               : QStringLiteral(" (%1)").arg(enabled.error().message()),
                             uuid())};
        QString error;
        const QVariantMap after = extensionInfo(&error);
        if (!error.isEmpty() || !after.contains(QStringLiteral("state")))
            return {true, {}}; // asked and accepted; the trust poll sees what follows
        return describeKnown(after, true, extensionsOn);
    }
    case Error:
        return {false, QStringLiteral("GNOME Shell could not start the Lumarex extension in %1: %2. Log out "
                                      "and back in; if it still fails, install Lumarex again.")
                           .arg(path, info.value(QStringLiteral("error")).toString())};
    case OutOfDate:
        return {false, QStringLiteral("The Lumarex extension in %1 does not support the version of GNOME "
                                      "Shell that runs here.")
                           .arg(path)};
    default:
        return {false,
                QStringLiteral("GNOME Shell reports the Lumarex extension in state %1; log out and back "
                               "in, then try again.")
                    .arg(state)};
    }
}

QString GnomeExtensionInstaller::extensionIn(const QString& dataDir) const {
    if (dataDir.isEmpty())
        return {};
    const QString folder = extensionsFolder(dataDir) + QLatin1Char('/') + uuid();
    return QFileInfo::exists(folder + QStringLiteral("/metadata.json")) ? folder : QString();
}

GnomeExtensionInstaller::Result GnomeExtensionInstaller::installForNextLogin() {
    // The Shell takes the first folder that has it, the user's own first.
    QString installed = extensionIn(places_.userDataDir);
    for (const QString& dir : places_.systemDataDirs) {
        if (installed.isEmpty())
            installed = extensionIn(dir);
    }
    if (installed.isEmpty()) {
        // Installed where the Shell does not look (a prefix of its own): a copy in the user's folder.
        const QString source = extensionIn(places_.programDataDir);
        if (source.isEmpty())
            return {false,
                    QStringLiteral("Lumarex cannot find its GNOME Shell extension: it is not in %1, next "
                                   "to the program. Install Lumarex again (its package or \"make "
                                   "install\" brings the extension).")
                        .arg(extensionsFolder(places_.programDataDir) + QLatin1Char('/') + uuid())};
        if (places_.userDataDir.isEmpty())
            return {false,
                    QStringLiteral("Lumarex cannot install its GNOME Shell extension: there is no home "
                                   "data folder (XDG_DATA_HOME or HOME).")};
        const QString target = extensionsFolder(places_.userDataDir) + QLatin1Char('/') + uuid();
        if (const QString error = copyToUserFolder(source, target); !error.isEmpty())
            return {false, error};
        installed = target;
    }
    QString message = QStringLiteral("Lumarex's GNOME Shell extension is installed in %1. GNOME on Wayland "
                                     "loads a newly installed extension only when you log in: log out and "
                                     "back in, and the highlight and its shortcut work.")
                          .arg(installed);
    if (const QString error = enableForNextLogin(); !error.isEmpty())
        message += QStringLiteral(" Lumarex could not turn it on for your next login (%1): after logging in, "
                                  "press Enable again.")
                       .arg(error);
    return {false, message};
}

QString GnomeExtensionInstaller::copyToUserFolder(const QString& source, const QString& target) const {
    namespace fs = std::filesystem;
    const QString parent = QFileInfo(target).path();
    std::error_code error;
    fs::create_directories(parent.toStdString(), error);
    if (error)
        return QStringLiteral("Lumarex could not create the folder %1 for its GNOME Shell extension: %2.")
            .arg(parent, fromStd(error));
    if (QFileInfo(target).exists() && !QDir(target).isEmpty())
        return QStringLiteral(
                   "%1 exists but holds no extension, so Lumarex leaves it as it is. Move it away, "
                   "then press Enable again.")
            .arg(target);
    // Assembled beside the extensions folder (which the Shell reads) and moved in whole, so a failure
    // half-way leaves nothing behind.
    QTemporaryDir staging(QFileInfo(parent).path() + QStringLiteral("/.lumarex-extension-XXXXXX"));
    if (!staging.isValid())
        return QStringLiteral("Lumarex could not write into %1 to install its GNOME Shell extension: %2.")
            .arg(QFileInfo(parent).path(), staging.errorString());
    const fs::path staged = fs::path(staging.path().toStdString()) / "extension";
    fs::copy(source.toStdString(), staged, fs::copy_options::recursive, error);
    if (error)
        return QStringLiteral("Lumarex could not copy its GNOME Shell extension from %1 to %2: %3.")
            .arg(source, target, fromStd(error));
    // An empty folder of that name is replaced; anything else makes the rename fail.
    fs::rename(staged, target.toStdString(), error);
    if (error)
        return QStringLiteral("Lumarex could not move its GNOME Shell extension into %1: %2.")
            .arg(target, fromStd(error));
    return {};
}

QString GnomeExtensionInstaller::enableForNextLogin() const {
    // The Shell's extension service refuses an extension it has not loaded; the lists it reads at
    // login are in its settings, which it also watches while it runs.
    const char* schemaId = "org.gnome.shell";
    GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();
    GSettingsSchema* schema = schemas ? g_settings_schema_source_lookup(schemas, schemaId, TRUE) : nullptr;
    if (!schema)
        return QStringLiteral("GNOME Shell's settings (%1) are not installed").arg(QLatin1String(schemaId));
    g_settings_schema_unref(schema);
    // Without dconf, GSettings keeps values in memory only: a write would be lost without a word.
    const std::unique_ptr<GSettingsBackend, ObjectUnref> backend(g_settings_backend_get_default());
    if (std::strcmp(G_OBJECT_TYPE_NAME(backend.get()), "GMemorySettingsBackend") == 0)
        return QStringLiteral("GSettings cannot store settings here (its dconf backend is missing)");

    const std::unique_ptr<GSettings, ObjectUnref> settings(g_settings_new(schemaId));
    const QByteArray id = uuid().toUtf8();
    const std::pair<const char*, bool> wanted[] = {{"enabled-extensions", true},
                                                   {"disabled-extensions", false}};
    for (const auto& [key, present] : wanted) {
        const Strv list(g_settings_get_strv(settings.get(), key));
        const Strv changed = withUuid(list.get(), id, present);
        if (!changed)
            continue;
        if (!g_settings_is_writable(settings.get(), key) ||
            !g_settings_set_strv(settings.get(), key, changed.get()))
            return QStringLiteral("the setting %1 of %2 is locked")
                .arg(QLatin1String(key), QLatin1String(schemaId));
    }
    g_settings_sync();
    return {};
}
