// gx-screenshots, run as the README's screenshots are made.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

namespace {

TEST(ScreenshotsToolTest, DrawsEveryPageAndTheAboutBoxAtTheirSizes) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", folder.path());
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral(GX_PROGRAM_DIR "/gx-screenshots"), {folder.filePath("shots")});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

    struct Shot {
        const char* name;
        QSize size;
    };
    const Shot shots[] = {{"console-filtrage.png", {594, 535}},
                          {"console-enfants.png", {594, 535}},
                          {"console-historique.png", {594, 535}},
                          {"console-aide.png", {594, 535}},
                          {"console-desactive.png", {594, 535}},
                          {"console-apropos.png", {518, 348}},
                          {"console-code-parental.png", {}},
                          {"console-service.png", {594, 535}}};  // a dialog of its layout's size
    for (const Shot& shot : shots) {
        SCOPED_TRACE(shot.name);
        const QImage image(folder.filePath(QStringLiteral("shots/") + QLatin1String(shot.name)));
        ASSERT_FALSE(image.isNull());
        if (shot.size.isValid()) {
            EXPECT_EQ(image.size(), shot.size);
        }
    }
}

}  // namespace
