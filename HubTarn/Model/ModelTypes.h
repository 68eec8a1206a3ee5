#pragma once

#include "Base/Places.h"
#include "Catalog/SharedTypes.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <array>
#include <map>
#include <optional>

// The values the app model publishes to the views.
namespace Hub {

enum class Screen { splash, login, main };

enum class Tab { plugins, updates, settings };
inline constexpr std::array<Tab, 3> kAllTabs{Tab::plugins, Tab::updates, Tab::settings};
QString rawValue(Tab tab);
std::optional<Tab> tabFromRaw(QStringView text);

// Which modal sheet is shown, for which product.
struct Sheet {
    enum class Kind { install, feedback, uninstall };

    Kind kind = Kind::install;
    QString slug;

    static Sheet install(QString slug) { return {Kind::install, std::move(slug)}; }
    static Sheet feedback(QString slug) { return {Kind::feedback, std::move(slug)}; }
    static Sheet uninstall(QString slug) { return {Kind::uninstall, std::move(slug)}; }
    // Tells two sheets apart for a presentation: "<kind>-<slug>".
    QString id() const;
    friend bool operator==(const Sheet&, const Sheet&) = default;
};

// A product's (or the application's own) activity as the user sees it.
struct Job {
    enum class Kind {
        idle,
        downloading,
        verifying,
        installing,
        registering,
        removing,
        waitingForRestart,
        done,
        warning,
        failed,
    };

    Kind kind = Kind::idle;
    double fraction = 0.0; // downloading only; always within 0..1
    QString message;       // done, warning and failed only

    static Job idle() { return {}; }
    // A fraction that is not a number or lies outside 0..1 is clamped here,
    // once, so no view ever shows "-5%" or "nan%".
    static Job downloading(double fraction);
    static Job verifying() { return {Kind::verifying, 0.0, {}}; }
    static Job installing() { return {Kind::installing, 0.0, {}}; }
    static Job registering() { return {Kind::registering, 0.0, {}}; }
    static Job removing() { return {Kind::removing, 0.0, {}}; }
    static Job waitingForRestart() { return {Kind::waitingForRestart, 0.0, {}}; }
    static Job done(QString message) { return {Kind::done, 0.0, std::move(message)}; }
    static Job warning(QString message) { return {Kind::warning, 0.0, std::move(message)}; }
    static Job failed(QString message) { return {Kind::failed, 0.0, std::move(message)}; }
    static Job from(const InstallStep& step);

    bool isWorking() const;
    // Whole percent of a download, truncated.
    int percent() const;
    // The short lower-case word ("downloading 42%", "checking", ...);
    // empty for idle, done, warning and failed.
    QString shortText() const;

    friend bool operator==(const Job&, const Job&) = default;
};

struct ProductState {
    QList<InstalledFormat> installed; // in scan order
    Job job;

    friend bool operator==(const ProductState&, const ProductState&) = default;
};
using ProductStates = std::map<QString, ProductState>;

struct AccountInfo {
    HubUser user;
    QStringList betas;    // products whose beta the account takes part in
    QStringList products; // further products shared with the account
    QDateTime onlineAt;   // the last successful contact with the maker's service

    friend bool operator==(const AccountInfo&, const AccountInfo&) = default;
};

// A pending confirmation that a DAW is open; `run` starts the work.
struct DAWWarning {
    QStringList daws;
    QString message;
    QString confirm;
    std::function<void()> run;
};

struct PluginSections {
    QStringList onMac;
    QStringList add;
    QStringList soon;

    // Keeps rows where the user last saw them: the earlier lists without
    // identifiers that are gone, then the newcomers in fresh order.
    PluginSections holding(const std::optional<PluginSections>& earlier) const;
    friend bool operator==(const PluginSections&, const PluginSections&) = default;
};

enum class RowAction { update, install, get };

struct Caption {
    std::optional<QString> tag;
    QString text;
    bool strong = false;

    friend bool operator==(const Caption&, const Caption&) = default;
};

enum class RowContextKind { failure, warning, updateNote, done, plain };

struct RowContext {
    QString text;
    RowContextKind kind = RowContextKind::plain;
    std::optional<QString> spoken;

    friend bool operator==(const RowContext&, const RowContext&) = default;
};


} // namespace Hub
