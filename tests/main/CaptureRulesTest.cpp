// The rules that turn the window's fields into pass arguments and files, without a window.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "base/NumberedError.h"
#include "main/CaptureRules.h"
#include "main/SettingsText.h"
#include "main/frmMain.h"
#include "widgets/ErrorReport.h"

TEST(MinFileSize, ReadsWholeKilobytesAndReplacesWhatItCannotUse) {
  const QLocale c = QLocale::c();
  struct Case {
    const char* text;
    std::int32_t kilobytes;
    const char* replacement;  // null: the field keeps its text
  };
  const Case cases[] = {
      {"-5", 25, "25"},
      {"250000", 100000, "100000"},
      {"abc", 25, "25"},
      {"", 25, "25"},
      {"3000000000", 25, "25"},
      {"0", 0, nullptr},
      {"30 ", 30, nullptr},
      {" \t7\t ", 7, nullptr},
      {"100000", 100000, nullptr},
      {"100001", 100000, "100000"},
      {"2.5", 2, nullptr},
      {"3.5", 4, nullptr},
      {"-0.4", 0, nullptr},
      {"-2147483648", 25, "25"},
      {"2147483648", 25, "25"},
      {"1e3", 1000, nullptr},
      {"12abc", 25, "25"},
      {"nan", 25, "25"},
      {"inf", 25, "25"},
  };
  for (const Case& test : cases) {
    const MinFileSizeReading reading = ReadMinFileSize(QString::fromUtf8(test.text), c);
    EXPECT_EQ(reading.kilobytes, test.kilobytes) << '"' << test.text << '"';
    EXPECT_EQ(reading.replacementText.has_value(), test.replacement != nullptr) << '"' << test.text << '"';
    if (test.replacement && reading.replacementText) {
      EXPECT_EQ(reading.replacementText->toStdString(), test.replacement) << '"' << test.text << '"';
    }
  }
}

TEST(MinFileSize, FollowsTheLocaleOfTheUser) {
  const QLocale german(QLocale::German, QLocale::Germany);
  EXPECT_EQ(WholeNumberFromText(QStringLiteral("1.000"), german), 1000);
  EXPECT_EQ(WholeNumberFromText(QStringLiteral("2,5"), german), 2);
  EXPECT_EQ(WholeNumberFromText(QStringLiteral("7,5"), german), 8);
  EXPECT_EQ(WholeNumberFromText(QStringLiteral("1,000"), QLocale(QLocale::English, QLocale::UnitedStates)), 1000);
}

TEST(SettingsFile, KeysAreCaseInsensitiveButKeepTheirSpaces) {
  CaptureSettings settings{"25", "*.jpg"};
  ApplySettingsText("FSizeLimit=30\r\n fsizelimit=40\r\nfsizelimit =50\r\nfextlist=*.png", settings);
  EXPECT_EQ(settings.minFileSize, "30");
  EXPECT_EQ(settings.extensionList, "*.png");
}

TEST(SettingsFile, ValuesAreTakenWholeAfterTheFirstEquals) {
  CaptureSettings settings{"25", "*.jpg"};
  ApplySettingsText("fsizelimit=30 \r\nfextlist=a=b=c\r\n=ignored\r\nother=1", settings);
  EXPECT_EQ(settings.minFileSize, "30 ");
  EXPECT_EQ(settings.extensionList, "a=b=c");

  ApplySettingsText("fextlist=\r\nfsizelimit=1\r\nfsizelimit=2\r\n", settings);
  EXPECT_EQ(settings.extensionList, "");
  EXPECT_EQ(settings.minFileSize, "2");
}

// On Windows only CR LF splits; editors on POSIX save LF alone, and those lines split too.
TEST(SettingsFile, LineEndsOfThePlatformSplit) {
  CaptureSettings settings{"25", "*.jpg"};
  ApplySettingsText("fsizelimit=1\nfextlist=x\r\nfsizelimit=2\rz\n", settings);
#ifdef _WIN32
  EXPECT_EQ(settings.minFileSize, "2\rz\n");
  EXPECT_EQ(settings.extensionList, "*.jpg");
#else
  EXPECT_EQ(settings.minFileSize, "2\rz");
  EXPECT_EQ(settings.extensionList, "x");
#endif

  CaptureSettings untouched{"25", "*.jpg"};
  ApplySettingsText("", untouched);
  ApplySettingsText("no equals here\r\nnor here", untouched);
  EXPECT_EQ(untouched.minFileSize, "25");
  EXPECT_EQ(untouched.extensionList, "*.jpg");
}

TEST(SettingsFile, IsWrittenAsTwoTrimmedLinesWithNothingAfter) {
  EXPECT_EQ(SettingsText({"25", "*.jpg;*.jpeg;*.bmp;*.gif;*.flv"}),
            "fsizelimit=25\r\nfextlist=*.jpg;*.jpeg;*.bmp;*.gif;*.flv");
  EXPECT_EQ(SettingsText({" 30 ", "  *.png "}), "fsizelimit=30\r\nfextlist=*.png");
  EXPECT_EQ(SettingsText({"abc", ""}), "fsizelimit=abc\r\nfextlist=");
}

TEST(ErrorReportText, HasNumberDescriptionAndLocationEachEndedByCrLf) {
  EXPECT_EQ(ErrorReportText(53, QStringLiteral("File not found"), ErrorLocation("frmMain", "Form_Load")),
            QStringLiteral("錯誤編號 : 53 \r\n描述 : File not found\r\n發生位置 : frmMain.Form_Load ( Sub ) \r\n"));
  EXPECT_EQ(ErrorReportText(5, QStringLiteral("x"), QStringLiteral("l"), 12),
            QStringLiteral("錯誤編號 : 5 \r\n描述 : x\r\n發生位置 : l\r\n行號 : 12."));
  EXPECT_EQ(ErrorNumberOf(NumberedError(NumberedError::kPermissionDenied, "Permission denied")), 70);
  EXPECT_EQ(ErrorNumberOf(NumberedError(NumberedError::kPathNotFound, "Path not found")), 76);
  EXPECT_EQ(ErrorNumberOf(std::bad_alloc()), 7);
  EXPECT_EQ(ErrorNumberOf(std::logic_error("other")), 5);
}

TEST(WindowCaption, PadsMinorAndRevisionToTwoDigitsWithoutCutting) {
  EXPECT_EQ(MainWindowCaption(2007, 7, 22, QStringLiteral("A. Author"), QStringLiteral("https://a.example")),
            QStringLiteral("Tavrin 2007 Build 0722 - A. Author (https://a.example)"));
  EXPECT_EQ(MainWindowCaption(1, 123, 4, QStringLiteral("A"), QString()), QStringLiteral("Tavrin 1 Build 12304 - A"));
}
