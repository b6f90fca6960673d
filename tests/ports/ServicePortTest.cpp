#include "Models.h"
#include "Printing.h"

#include <gtest/gtest.h>

TEST(ServicePort, DerivedTexts)
{
    const auto record = [](std::optional<QString> appName, std::optional<QString> workingDir) {
        return ServicePort{QUuid::createUuid(),
                           8080,
                           "TCP",
                           "*",
                           42,
                           "node",
                           "dev",
                           std::move(appName),
                           std::nullopt,
                           std::move(workingDir)};
    };
    EXPECT_EQ(record(std::nullopt, std::nullopt).displayName(), "node");
    EXPECT_EQ(record(QString(), std::nullopt).displayName(), "");
    EXPECT_EQ(record("终端", std::nullopt).displayName(), "终端");

    // The home folder is shortened only as a whole path element, and read afresh on every call.
    const QByteArray savedHome = qgetenv("HOME");
    for (const auto& [home, dir, shown] : std::vector<std::tuple<QByteArray, QString, QString>>{
             {"/home/dev", "/home/dev", "~"},
             {"/home/dev", "/home/dev/", "~/"},
             {"/home/dev", "/home/dev/src", "~/src"},
             {"/home/dev", "/home/devx/y", "/home/devx/y"},
             {"/home/dev", "/srv/home/dev", "/srv/home/dev"},
             {"/home/开发者", "/home/开发者/项目", "~/项目"},
         }) {
        qputenv("HOME", home);
        EXPECT_EQ(record(std::nullopt, dir).displayWorkingDir(), shown) << dir.toStdString();
        EXPECT_EQ(record(std::nullopt, dir).workingDirSortKey(), dir);
    }
    qputenv("HOME", savedHome);
    EXPECT_EQ(record(std::nullopt, std::nullopt).displayWorkingDir(), std::nullopt);
    EXPECT_EQ(record(std::nullopt, std::nullopt).workingDirSortKey(), "");
}
