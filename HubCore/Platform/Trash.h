#pragma once

#include <QDateTime>
#include <QString>

// The desktop's Trash, laid out as freedesktop.org desktops expect: "Trash"
// in the user's data folder (see Places); its files/ holds the items,
// info/<name>.trashinfo records where each came from and when, so the file
// manager can put it back.
namespace Hub::Trash {

// "Trash" in the data folder of `home`: $XDG_DATA_HOME/Trash for the
// user's own home when set, else <home>/.local/share/Trash.
QString folder(const QString& home);

// Moves the item at `path` (a symbolic link is moved as the link) into the
// Trash of `home` and returns where it now lies. A name already used in the
// Trash gets the next free "<base> N.<extension>" name; nothing in the
// Trash is ever replaced. Throws FileError; on failure the item stays where
// it was and no .trashinfo is left behind.
QString moveToTrash(const QString& path, const QString& home);
QString moveToTrash(const QString& path, const QString& home, const QDateTime& deletionDate);

// The .trashinfo text for an item: its absolute path percent-encoded and
// the deletion date in local time, "YYYY-MM-DDThh:mm:ss".
QByteArray trashInfo(const QString& originalPath, const QDateTime& deletionDate);

// The candidate names for an item called `name`: the name itself, then
// "<base> 2.<extension>", "<base> 3.<extension>", ... (no extension: "<name> 2").
QString candidateName(const QString& name, int number);

} // namespace Hub::Trash
