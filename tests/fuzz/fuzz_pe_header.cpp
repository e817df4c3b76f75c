// The executable-header reader on arbitrary bytes: it must never read outside the file, and a
// date it reports must be a real one.
#include "util/util.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path =
        QDir::temp().filePath(QStringLiteral("qtl_fuzz_pe_%1.bin").arg(QCoreApplication::applicationPid()));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const qtl::BuildDateResult r = qtl::ReadPeBuildDate(path);
    if (r.ok && (!r.dateTime.isValid() || r.dateTime.date().year() < 1980 || r.dateTime.date().year() > 2107))
        std::abort();
    return 0;
}
