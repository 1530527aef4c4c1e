#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "http/Streams.h"

namespace gx {
namespace {

TEST(Streams, MemoryStreamWritesAtItsPositionAndCutsBack) {
    MemoryStream stream;
    ASSERT_TRUE(stream.Write("hello world", 11));
    ASSERT_TRUE(stream.SetSize(5));
    EXPECT_EQ(stream.Data(), "hello");
    EXPECT_EQ(stream.Position(), 5);
    ASSERT_TRUE(stream.Write("!!", 2));
    ASSERT_TRUE(stream.Seek(0));
    ASSERT_TRUE(stream.Write("J", 1));
    EXPECT_EQ(stream.Data(), "Jello!!");
    EXPECT_EQ(stream.Size(), 7);
}

TEST(Streams, FileStreamCreatesEmptiesWritesAndCutsBack) {
    QTemporaryDir folder;
    const std::string path = QDir(folder.path()).filePath("gxsoft.dat").toStdString();
    {
        QFile old(QString::fromStdString(path));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old content");
    }
    auto stream = FileStream::Create(path);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Size(), 0);
    ASSERT_TRUE(stream->Write("redirect body", 13));
    ASSERT_TRUE(stream->SetSize(0));
    ASSERT_TRUE(stream->Write("final", 5));
    EXPECT_EQ(stream->Size(), 5);
    stream.reset();
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), "final");

    EXPECT_EQ(FileStream::Create(QDir(folder.path()).filePath("no/such/folder/x").toStdString()),
              nullptr);
}

}  // namespace
}  // namespace gx
