#include "AppSettings.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <limits>

namespace {

const QString key = QStringLiteral("Tavlin.commonPorts");

QSettings settings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kestrow"),
                     QStringLiteral("Kestrow"));
}

void store(const QVariant& value)
{
    QSettings s = settings();
    if (value.isValid())
        s.setValue(key, value);
    else
        s.remove(key);
    s.sync();
}

QVariant stored()
{
    return settings().value(key);
}

QList<qint64> portsOf(const QList<CommonPort>& list)
{
    QList<qint64> ports;
    for (const CommonPort& entry : list)
        ports.append(entry.port);
    return ports;
}

class AppSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { store(QVariant()); }
};

TEST_F(AppSettingsTest, AddSkipsListedPortsOtherwiseStoresTheAppendedThenTheSortedList)
{
    const auto settingsObject = AppSettings::createForTesting();
    QSignalSpy changes(settingsObject.get(), &AppSettings::commonPortsChanged);

    settingsObject->add(3000, QStringLiteral("another note"));
    EXPECT_EQ(changes.count(), 0);
    EXPECT_FALSE(stored().isValid());

    // Each notification comes after its write: the first sees 2000 appended, the second sorted.
    QList<QList<qint64>> seenOnDisk;
    QObject::connect(settingsObject.get(), &AppSettings::commonPortsChanged, [&] {
        seenOnDisk.append(portsOf(AppSettings::createForTesting()->commonPorts()));
    });
    settingsObject->add(2000, QString());
    ASSERT_EQ(seenOnDisk.size(), 2);
    EXPECT_EQ(seenOnDisk[0].size(), 18);
    EXPECT_EQ(seenOnDisk[0].last(), 2000);
    EXPECT_EQ(seenOnDisk[1], portsOf(settingsObject->commonPorts()));
    EXPECT_TRUE(std::is_sorted(seenOnDisk[1].begin(), seenOnDisk[1].end()));
    EXPECT_EQ(settingsObject->commonPorts()[1], (CommonPort{2000, QString()}));
}

TEST_F(AppSettingsTest, RemoveGoesByPortAndAlwaysStores)
{
    const auto settingsObject = AppSettings::createForTesting();
    QSignalSpy changes(settingsObject.get(), &AppSettings::commonPortsChanged);

    settingsObject->remove({12345, QString()});
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(settingsObject->commonPorts(), AppSettings::defaultPorts());
    EXPECT_EQ(AppSettings::createForTesting()->commonPorts(), AppSettings::defaultPorts());
    EXPECT_TRUE(stored().isValid());

    settingsObject->setCommonPorts({{8080, QStringLiteral("x")}, {1, QString()}, {8080, "y"}});
    settingsObject->remove({8080, QStringLiteral("a different note")});
    EXPECT_EQ(settingsObject->commonPorts(), (QList<CommonPort>{{1, QString()}}));
}

TEST_F(AppSettingsTest, ReadsBackWhatIsStoredExactly)
{
    const struct {
        const char* json;
        QList<CommonPort> expected;
    } cases[] = {
        {"[]", {}},
        {R"([{"port":9,"note":"b"},{"port":2,"note":""},{"port":9,"note":"dup"}])",
         {{9, "b"}, {2, ""}, {9, "dup"}}},
        {R"([ {"note":"端口","port":3000.0,"extra":[1]}, {"port":3e3,"note":"\u00e9"} ])",
         {{3000, "端口"}, {3000, "é"}}},
        {R"([{"port":9007199254740993,"note":""},{"port":-9223372036854775808,"note":""}])",
         {{9007199254740993LL, ""}, {std::numeric_limits<qint64>::min(), ""}}},
    };
    for (const auto& c : cases) {
        store(QByteArray(c.json));
        EXPECT_EQ(AppSettings::createForTesting()->commonPorts(), c.expected) << c.json;
    }

    // What this program writes, it reads back, including ports beyond a double's precision.
    const QList<CommonPort> written{{std::numeric_limits<qint64>::max(), "\"引号\"\n"}, {0, ""}};
    AppSettings::createForTesting()->setCommonPorts(written);
    EXPECT_EQ(AppSettings::createForTesting()->commonPorts(), written);
}

TEST_F(AppSettingsTest, FallsBackToTheDefaultsWhenTheStoredValueDoesNotDecode)
{
    QVariantList values{QStringLiteral(R"([{"port":3000,"note":""}])"), 42};
    for (const char* json :
         {R"([{"port":3000}])", R"([{"note":"x"}])", R"([{"port":3000,"note":7}])",
          R"([{"port":"3000","note":""}])", R"([{"port":3000.5,"note":""}])",
          R"([{"port":9223372036854775808,"note":""}])", R"([{"port":1e300,"note":""}])",
          R"([{"port":true,"note":""}])", R"([{"port":null,"note":""}])", R"([[3000,""]])",
          R"({"port":3000,"note":""})", R"([{"port":3000,"note":""})", ""})
        values.append(QByteArray(json));
    for (const QVariant& value : values) {
        store(value);
        const QVariant before = stored();
        EXPECT_EQ(AppSettings::createForTesting()->commonPorts(), AppSettings::defaultPorts())
            << value.toString().toStdString();
        EXPECT_EQ(stored(), before) << "reading must not overwrite what is stored";
    }
}

TEST(AppSettingsAcrossRuns, AChangeInOneRunIsTheListOfTheNext)
{
    QTemporaryDir home;
    HelperRun first = runHelper({QStringLiteral("settings-print")}, home.path());
    EXPECT_EQ(first.out.count(QLatin1Char('\n')), 17);
    EXPECT_TRUE(first.out.startsWith(QStringLiteral("3000\tNode / Next.js / Rails\n")));
    EXPECT_FALSE(QFile::exists(home.path() + QStringLiteral("/Kestrow/Kestrow.conf")));

    EXPECT_EQ(runHelper({"settings-add", "2000", "本地 备注"}, home.path()).exitCode, 0);
    EXPECT_TRUE(QFile::exists(home.path() + QStringLiteral("/Kestrow/Kestrow.conf")));

    const HelperRun second = runHelper({QStringLiteral("settings-print")}, home.path());
    const QStringList lines = second.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 18);
    EXPECT_EQ(lines[0], QStringLiteral("1313\tHugo"));
    EXPECT_EQ(lines[1], QStringLiteral("2000\t本地 备注"));
}

// A program killed while it writes leaves one of the lists it wrote, never a broken file.
TEST(AppSettingsAcrossRuns, AKillDuringAWriteLeavesTheOldOrTheNewList)
{
    QTemporaryDir home;
    auto expected = [](int count, char note) {
        QString text;
        for (int i = 1; i <= count; ++i)
            text += QString::number(i) + QLatin1Char('\t') + QLatin1Char(note) +
                    QString::number(i) + QLatin1Char('\n');
        return text;
    };
    const QString listA = expected(3000, 'a');
    const QString listB = expected(2000, 'b');

    for (int round = 0; round < 15; ++round) {
        QProcess writer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        writer.setProcessEnvironment(environment);
        writer.start(QStringLiteral(STORES_HELPER), {QStringLiteral("settings-hammer")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return writer.canReadLine(); }, 60000))
            << "round " << round << ": " << writer.readAllStandardError().toStdString();
        QTest::qWait(QRandomGenerator::global()->bounded(5, 60));
        ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
        ASSERT_TRUE(writer.waitForFinished(10000));

        const HelperRun reader = runHelper({QStringLiteral("settings-print")}, home.path());
        EXPECT_TRUE(reader.out == listA || reader.out == listB)
            << "round " << round << ": " << reader.out.left(80).toStdString();
    }
}

} // namespace
