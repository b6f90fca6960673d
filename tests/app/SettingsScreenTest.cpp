// The settings screen over real settings stored in a temporary configuration folder.
#include "AppSettings.h"
#include "PortsTableModel.h"
#include "PortsView.h"
#include "SettingsView.h"
#include "Stores.h"
#include "TestSupport.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// The test program's own configuration folder (TestSupport), never the user's.
const bool configHomeReady = !testConfigHome().isEmpty();

class SettingsScreen : public ::testing::Test {
protected:
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<SettingsView> view;

    void SetUp() override
    {
        ASSERT_TRUE(configHomeReady);
        QDir(testConfigHome() + "/Kestrow").removeRecursively();
        settings = AppSettings::createForTesting();
        view = std::make_unique<SettingsView>(*settings);
        view->resize(900, 600);
        view->show();
    }

    QLineEdit& port() { return *view->findChild<QLineEdit*>("port"); }
    QLineEdit& note() { return *view->findChild<QLineEdit*>("note"); }
    QPushButton& addButton() { return *view->findChild<QPushButton*>("add"); }
    QTableView& table() { return *view->findChild<QTableView*>("commonPorts"); }
    QAbstractItemModel& model() { return *table().model(); }
    QString count() { return view->findChild<QLabel*>("count")->text(); }
    std::optional<QString> shownError()
    {
        auto* label = view->findChild<QLabel*>("addError");
        if (!label->isVisibleTo(view.get()))
            return std::nullopt;
        return label->text();
    }
    QString cell(int row, int column)
    {
        return model().data(model().index(row, column)).toString();
    }
    int rowOf(qint64 number)
    {
        for (int row = 0; row < model().rowCount(); ++row) {
            if (cell(row, 0) == QString::number(number))
                return row;
        }
        return -1;
    }
    void type(const QString& portText, const QString& noteText)
    {
        port().setText(portText);
        note().setText(noteText);
    }
    QMessageBox* confirmation() { return view->findChild<QMessageBox*>("confirmReset"); }
    QToolButton* removeButton(int row)
    {
        table().scrollTo(model().index(row, 2));
        return qobject_cast<QToolButton*>(table().indexWidget(model().index(row, 2)));
    }
};

TEST_F(SettingsScreen, RejectsInvalidPortsWithTheirMessageAndKeepsTheFields)
{
    const QString invalid = "请输入有效的端口号。";
    const QString outOfRange = "端口号需在 1–65535 之间。";
    const QList<std::pair<QString, QString>> cases = {
        {"", invalid},
        {" \t\u3000", invalid},
        {"80a", invalid},
        {"80 80", invalid},
        {"٨٠", invalid}, // digits of another script
        {"0x50", invalid},
        {"99999999999999999999", invalid},
        {"9223372036854775808", invalid},
        {"0", outOfRange},
        {"-1", outOfRange},
        {"65536", outOfRange},
        {"-9223372036854775808", outOfRange},
        {" 3000 ", "端口 3000 已在列表中。"},
        {"+5173", "端口 5173 已在列表中。"},
    };
    for (const auto& [text, message] : cases) {
        type(text, "note stays");
        addButton().click();
        EXPECT_EQ(shownError(), message) << text.toStdString();
        EXPECT_EQ(port().text(), text);
        EXPECT_EQ(note().text(), "note stays");
    }
    EXPECT_EQ(settings->commonPorts(), AppSettings::defaultPorts());
    EXPECT_EQ(count(), "共 17 个常用端口");
}

TEST_F(SettingsScreen, AddsTrimmedEntriesFromButtonOrReturnInEitherField)
{
    // Unicode space separators and tabs are blanks; the entry lands sorted by port.
    type("\u2003 8081\t", " \u00a0Webpack dev server\u3000");
    addButton().click();
    EXPECT_FALSE(shownError());
    EXPECT_TRUE(port().text().isEmpty());
    EXPECT_TRUE(note().text().isEmpty());
    ASSERT_GE(rowOf(8081), 0);
    EXPECT_EQ(cell(rowOf(8081), 1), "Webpack dev server");
    EXPECT_EQ(rowOf(8081), rowOf(8080) + 1);
    EXPECT_EQ(count(), "共 18 个常用端口");

    // A rejection, then Return in the port field with a valid port: the message goes.
    type("65535x", "");
    QTest::keyClick(&port(), Qt::Key_Return);
    EXPECT_TRUE(shownError());
    type("+65535", "");
    QTest::keyClick(&port(), Qt::Key_Return);
    EXPECT_FALSE(shownError());
    ASSERT_GE(rowOf(65535), 0);
    EXPECT_EQ(cell(rowOf(65535), 1), "—");

    type("1", "tcpmux");
    QTest::keyClick(&note(), Qt::Key_Enter);
    EXPECT_EQ(rowOf(1), 0);
    EXPECT_EQ(cell(0, 1), "tcpmux");
    EXPECT_EQ(count(), "共 20 个常用端口");

    // Stored at once: a fresh read sees the same list.
    EXPECT_EQ(AppSettings::createForTesting()->commonPorts(), settings->commonPorts());
}

TEST_F(SettingsScreen, DeleteRemovesTheRowAtOnce)
{
    const int row = rowOf(8888);
    ASSERT_GE(row, 0);
    QToolButton* remove = removeButton(row);
    ASSERT_TRUE(remove);
    EXPECT_EQ(remove->text(), "删除");
    remove->click();
    EXPECT_EQ(rowOf(8888), -1);
    EXPECT_FALSE(settings->portNumbers().contains(8888));
    EXPECT_EQ(count(), "共 16 个常用端口");

    // In a list longer than the screen, rows scrolled into view get their own buttons, and
    // after a removal the button that moves up still removes its own entry.
    QList<CommonPort> many;
    for (int port = 20000; port < 20300; ++port)
        many.append(CommonPort{port, {}});
    settings->setCommonPorts(many);
    EXPECT_EQ(count(), "共 300 个常用端口");
    for (int left = 299; left >= 297; --left) {
        QCoreApplication::processEvents();
        const qint64 shown = cell(150, 0).toLongLong();
        ASSERT_TRUE(removeButton(150));
        removeButton(150)->click();
        EXPECT_EQ(model().rowCount(), left);
        EXPECT_FALSE(settings->portNumbers().contains(shown)) << shown;
        EXPECT_EQ(settings->portNumbers().size(), left);
    }
}

TEST_F(SettingsScreen, ResetAsksFirstAndRestoresTheDefaults)
{
    settings->remove(CommonPort{3000, {}});
    settings->add(2222, "ssh alt");
    const QList<CommonPort> edited = settings->commonPorts();

    auto* reset = view->findChild<QPushButton*>("reset");
    EXPECT_EQ(reset->text(), "重置为默认");
    reset->click();
    QMessageBox* dialog = confirmation();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->text(), "重置为默认常用端口？");
    EXPECT_EQ(dialog->informativeText(), "这会丢弃你当前的自定义列表，恢复到内置默认端口。");
    QStringList buttons;
    for (QAbstractButton* button : dialog->buttons())
        buttons << button->text();
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({"取消", "重置"}));
    EXPECT_EQ(dialog->buttonRole(dialog->findChild<QPushButton*>("confirm")),
              QMessageBox::DestructiveRole);

    dialog->findChild<QPushButton*>("cancel")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return confirmation() == nullptr; }, 2000));
    EXPECT_EQ(settings->commonPorts(), edited);

    reset->click();
    ASSERT_TRUE(confirmation());
    confirmation()->findChild<QPushButton*>("confirm")->click();
    EXPECT_EQ(settings->commonPorts(), AppSettings::defaultPorts());
    EXPECT_EQ(count(), "共 17 个常用端口");
    EXPECT_EQ(cell(0, 0), "3000");
    EXPECT_EQ(AppSettings::createForTesting()->commonPorts(), AppSettings::defaultPorts());
}

ServicePort listener(qint64 number, const QString& protocol)
{
    ServicePort record;
    record.id = QUuid::createUuid();
    record.port = number;
    record.networkProtocol = protocol;
    record.address = QStringLiteral("127.0.0.1");
    record.pid = 4321;
    record.command = QStringLiteral("node");
    record.user = QStringLiteral("dev");
    return record;
}

QList<qint64> shownPorts(PortsView& ports)
{
    QList<qint64> numbers;
    for (int row = 0; row < ports.model().rowCount(); ++row)
        numbers << ports.model().record(row).port;
    return numbers;
}

// The ports screen's common-ports filter follows edits made on the settings screen, without a
// new scan.
TEST(SettingsAndPortsScreens, CommonPortsFilterFollowsTheList)
{
    ASSERT_TRUE(configHomeReady);
    AppSettings& shared = AppSettings::shared();
    shared.setCommonPorts(AppSettings::defaultPorts());

    PortsView ports;
    ports.store().setPorts({listener(3000, "TCP"), listener(8125, "UDP"), listener(47000, "TCP")});
    ports.store().setCommonOnly(true);
    ASSERT_EQ(shownPorts(ports), QList<qint64>({3000}));

    SettingsView settings(shared);
    settings.show();
    settings.findChild<QLineEdit*>("port")->setText("8125");
    settings.findChild<QPushButton*>("add")->click();
    EXPECT_EQ(shownPorts(ports), QList<qint64>({3000, 8125}));

    auto* table = settings.findChild<QTableView*>("commonPorts");
    int row = 0;
    while (table->model()->index(row, 0).data().toString() != "3000")
        ++row;
    qobject_cast<QToolButton*>(table->indexWidget(table->model()->index(row, 2)))->click();
    EXPECT_EQ(shownPorts(ports), QList<qint64>({8125}));

    settings.findChild<QPushButton*>("reset")->click();
    settings.findChild<QMessageBox*>("confirmReset")->findChild<QPushButton*>("confirm")->click();
    EXPECT_EQ(shownPorts(ports), QList<qint64>({3000}));
}

} // namespace
