#include "Models.h"
#include "Printing.h"

#include <gtest/gtest.h>

namespace {

ServicePort record(std::optional<QString> appName, std::optional<QString> workingDir)
{
    return ServicePort{
        QUuid::createUuid(),  8080, "TCP", "*", 42, "node", "dev", std::move(appName), std::nullopt,
        std::move(workingDir)};
}

} // namespace

TEST(ServicePort, DerivedTexts)
{
    EXPECT_EQ(record(std::nullopt, std::nullopt).displayName(), "node");
    EXPECT_EQ(record(QString(), std::nullopt).displayName(), "");
    EXPECT_EQ(record("终端", std::nullopt).displayName(), "终端");

    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", "/home/dev");
    const std::vector<std::pair<std::optional<QString>, std::optional<QString>>> cases{
        {std::nullopt, std::nullopt},
        {"/home/dev", "~"},
        {"/home/dev/", "~/"},
        {"/home/dev/src", "~/src"},
        {"/home/devx/y", "/home/devx/y"},
        {"/srv/home/dev", "/srv/home/dev"},
    };
    for (const auto& [dir, shown] : cases) {
        EXPECT_EQ(record(std::nullopt, dir).displayWorkingDir(), shown);
        EXPECT_EQ(record(std::nullopt, dir).workingDirSortKey(), dir.value_or(""));
    }
    // Read afresh on every call; compared by characters.
    qputenv("HOME", "/home/开发者");
    EXPECT_EQ(record(std::nullopt, "/home/开发者/项目").displayWorkingDir(), "~/项目");
    qputenv("HOME", savedHome);
}
