// The build date of the real Windows executables: the date the build wrote into each one's
// resource directory (beside it in NAME.build-date) is what the program reads back and shows.
#include "Unit10.h"
#include "util/util.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>

#include <gtest/gtest.h>

#include <memory>

using namespace qtl;

namespace {

QString besideTests(const QString& name) {
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

QDateTime writtenDate(const QString& exe) {
    QFile f(exe + QStringLiteral(".build-date"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QDateTime::fromString(QString::fromLatin1(f.readAll().trimmed()), Qt::ISODate);
}

// The machine field of the COFF header: 0x8664 for x64.
int machineOf(const QString& exe) {
    QFile f(exe);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray b = f.read(4096);
    if (b.size() < 64) return -1;
    const int pe = int(uchar(b[60]) | uchar(b[61]) << 8);
    if (pe + 6 > b.size()) return -1;
    return int(uchar(b[pe + 4]) | uchar(b[pe + 5]) << 8);
}

class BuiltExecutable : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "qtl_unit_tests";
            static char* argv[] = {name, nullptr};
            app = std::make_unique<QApplication>(argc, argv);
        }
    }
    static void TearDownTestSuite() { app.reset(); }
    static inline std::unique_ptr<QApplication> app;
};

}  // namespace

TEST_F(BuiltExecutable, ReadsTheDateTheBuildWroteIntoEach64BitImage) {
    for (const QString& name :
         {QStringLiteral("qtl33.exe"), QStringLiteral("qtl-settings.exe"), QStringLiteral("qtl_unit_tests.exe")}) {
        SCOPED_TRACE(name.toStdString());
        const QString exe = besideTests(name);
        ASSERT_TRUE(QFile::exists(exe));
        EXPECT_EQ(machineOf(exe), 0x8664);
        const QDateTime written = writtenDate(exe);
        ASSERT_TRUE(written.isValid()) << "no " << name.toStdString() << ".build-date";
        const BuildDateResult read = ReadPeBuildDate(exe);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(read.dateTime.date(), written.date());
        EXPECT_EQ(read.dateTime.time(), written.time());
    }
}

TEST_F(BuiltExecutable, TheLoginWindowShowsTheProgramsOwnStampNotTheCompiledDate) {
    // This test program is stamped the way qtl33.exe is, and reads its own file as qtl33.exe does.
    const QDateTime written = writtenDate(QCoreApplication::applicationFilePath());
    ASSERT_TRUE(written.isValid());
    const QDateTime shown = GetBuildDate();
    EXPECT_EQ(shown.date(), written.date());
    EXPECT_EQ(shown.time(), written.time());
    TForm8 login;
    EXPECT_TRUE(login.Label1->text().contains(QStringLiteral("[ ") + BuildDateText(shown) + QStringLiteral(" ]")))
        << login.Label1->text().toStdString();
}
