// Writing the workstation's settings file "Data/QTL": the inverse of the reader in
// platform/SettingsFile, kept beside the administrator's tool so that the workstation itself
// stays read-only.
#pragma once

#include "platform/SettingsFile.h"
#include "util/errors.h"

#include <QByteArray>
#include <QString>

namespace qtl::settingsfile {

// A value the file cannot hold, or a file that cannot be written. The text names the field and
// never carries the password.
class SettingsFileError : public AppError {
public:
    using AppError::AppError;
};

inline constexpr int kFieldSize = 20;

// The 84-byte image of the file for these settings: each text in Windows-1251, stored form
// (every byte minus one), its length byte. Throws SettingsFileError when a text has more than
// 20 bytes, holds a character outside Windows-1251, or when the server, the database or the
// account is empty.
QByteArray EncodeSettings(const TFirstConnectInfo& info);

// Checks one field as EncodeSettings would (for refusing early, before asking the password).
// `what` is the field's name in messages; `secret` keeps the value out of them.
void CheckField(const QString& what, const QString& value, bool secret, bool mayBeEmpty);

// Refuses a server written as host:port. The drivers take the whole text for a host name (FreeTDS
// then answers "Unknown host machine name"); the port goes after a comma. The message shows the
// comma form and, when that does not fit in the field, what to write instead.
void CheckServerForm(const QString& server);

// Replaces (or creates) the file with the image: written to a temporary file in the same folder,
// flushed and renamed over the old one, so a reader sees either the old file or the new one and
// an error leaves the old one as it was. An existing file keeps its owner, group and mode: they are
// set on the new file before it takes the old one's place, and when they cannot be (the owner
// belongs to someone else and we are not root) nothing is replaced. Throws SettingsFileError.
void WriteSettingsFileAtomically(const QString& path, const QByteArray& image);

}  // namespace qtl::settingsfile
