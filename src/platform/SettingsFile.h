// The settings file "Data/QTL" beside the executable: the entry account and the server the
// program first connects with. The workstation reads it at every login attempt; the
// administrator's tool writes it (tools/qtl-settings) and checks it with this same reader.
#pragma once

#include "platform/OdbcSettings.h"

#include <QByteArray>
#include <QString>

namespace qtl {

inline constexpr int kSettingsFileSize = 84;

// Decodes the 84-byte image of the settings file (bytes past 84 are ignored). Fewer than 84
// bytes throw InOutError("Read beyond end of file").
TFirstConnectInfo ParseSettings(const QByteArray& bytes);
// Reads the file: InOutError "File not found", "File access denied" or "Read beyond end of file".
TFirstConnectInfo ReadSettingsFile(const QString& path);

// The connection string as the program composes it (values inserted as they are).
QString BuildConnectionString(const TFirstConnectInfo& info);

}  // namespace qtl
