// The interface texts: every listed row in four languages, placeholders intact, fragments marked,
// unlisted rows empty.

#include "uitexttable.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

// Rows 0..616 that carry no text.
const QSet<int> kUnlisted = {153, 321, 322, 530, 531, 532, 533, 534, 535, 536, 537, 538, 539, 578, 606};
// Listed rows whose English cell is empty.
const QSet<int> kNoEnglish = {549, 552, 553, 555, 557, 561};

QStringList placeholders(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("%[1-6]"));
    QStringList found;
    auto it = re.globalMatch(text);
    while (it.hasNext())
        found << it.next().captured(0);
    found.sort();
    return found;
}

} // namespace

class TestUiTextTable : public QObject
{
    Q_OBJECT
private slots:
    // Rows above 616 are added by later work; the first 617 keep their set of listed rows.
    void initTestCase()
    {
        const int filled = fillUiTextTable();
        int listed = 0;
        for (int row = 0; row <= 616; ++row)
            listed += (uiText(row, 0).isEmpty() && uiText(row, 1).isEmpty()) ? 0 : 1;
        QCOMPARE(listed, 617 - kUnlisted.size());
        QVERIFY(filled >= listed);
    }

    void listedRowsCarryTextInEveryLanguage()
    {
        for (int row = 0; row <= 616; ++row) {
            if (kUnlisted.contains(row))
                continue;
            const QString en = uiText(row, 1);
            QVERIFY2(kNoEnglish.contains(row) == en.isEmpty(), qPrintable(QString::number(row)));
            QVERIFY2(!uiText(row, 0).isEmpty(), qPrintable(QString::number(row)));
            QVERIFY2(!uiText(row, 2).isEmpty(), qPrintable(QString::number(row)));
            if (row != 557)
                QVERIFY2(!uiText(row, 3).isEmpty(), qPrintable(QString::number(row)));
        }
        QVERIFY(uiText(557, 3).isEmpty());
    }

    void unlistedRowsAreEmpty()
    {
        for (int row = 0; row < kUiTextRows; ++row) {
            if (row <= 616 && !kUnlisted.contains(row))
                continue;
            if (row > 616 && !uiText(row, 0).isEmpty()) {
                // A row added later carries all four languages.
                for (int l = 1; l < kUiLanguages; ++l)
                    QVERIFY2(!uiText(row, l).isEmpty(), qPrintable(QStringLiteral("%1/%2").arg(row).arg(l)));
                continue;
            }
            for (int l = 0; l < kUiLanguages; ++l)
                QVERIFY2(uiText(row, l).isEmpty(), qPrintable(QStringLiteral("%1/%2").arg(row).arg(l)));
        }
        QVERIFY(uiText(-1, 1).isEmpty());
        QVERIFY(uiText(kUiTextRows, 1).isEmpty());
        QVERIFY(uiText(0, 4).isEmpty());
    }

    void placeholdersMatchTheEnglishText()
    {
        for (int row = 0; row <= 616; ++row) {
            const QString en = uiText(row, 1);
            if (en.isEmpty())
                continue;
            for (int l : {0, 2, 3}) {
                const QString text = uiText(row, l);
                if (text.isEmpty())
                    continue;
                QVERIFY2(placeholders(text) == placeholders(en),
                         qPrintable(QStringLiteral("row %1 language %2: %3").arg(row).arg(l).arg(text)));
            }
        }
    }

    void fragmentsBeginWithTheirLanguagesMark()
    {
        int fragments = 0;
        for (int row = 0; row <= 616; ++row) {
            const QString en = uiText(row, 1);
            if (!en.startsWith(QLatin1Char(',')) && !en.startsWith(QChar(0xFF0C)))
                continue;
            ++fragments;
            const QString where = QStringLiteral("row %1").arg(row);
            QVERIFY2(uiText(row, 0).startsWith(QChar(0xFF0C)), qPrintable(where));
            QVERIFY2(uiText(row, 2).startsWith(QChar(0xFF0C)), qPrintable(where));
            QVERIFY2(uiText(row, 3).startsWith(QChar(0x3001)), qPrintable(where));
        }
        QVERIFY(fragments >= 20);
    }

    void rowsGivenInFull_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("0") << 0
                           << QStringList{"相机参数文件打开错误！", "Camera parameter file error!",
                                          "相機參數檔打開錯誤！", "カメラパラメータファイル\nのオープンエラー！"};
        QTest::newRow("16") << 16 << QStringList{" 保    留 ", "Reserved", " 保    留 ", " 保    持"};
        QTest::newRow("121") << 121 << QStringList{"确定", "Confirm", "確定", "確定"};
        QTest::newRow("317") << 317 << QStringList{"简体中文", "English", "繁體中文", "日文"};
        QTest::newRow("357") << 357
                             << QStringList{"密码错误，请重新输入！", "The password is wrong",
                                            "密碼錯誤，請重新輸入！",
                                            "パスワードが間違っています。\n再入力してください！"};
        QTest::newRow("365") << 365
                             << QStringList{"，%1号相机Gamma从%2改为%3",
                                            ", the Gamma of camera %1 is changed from %2 to %3",
                                            "，%1號相機Gamma從%2改為%3", "、%1号カメラガンマが%2から%3に変更されました"};
        QTest::newRow("370") << 370
                             << QStringList{"松开手进入触摸屏校正...", "Release hand into TS calibration",
                                            "鬆開手進入觸控式螢幕校正...", "手を離してタッチパネル\n補正に入ります.."};
        // Captions that once named something else: each says what its Chinese source says.
        QTest::newRow("130 area settings")
            << 130 << QStringList{"区域设置", "Area Settings", "區域設置", "エリア設定"};
        QTest::newRow("264 mould cavity") << 264 << QStringList{"模腔", "Mold", "模腔", "ダイキャビティ"};
        QTest::newRow("542 OK total") << 542 << QStringList{"OK总数", "OK Total", "OK總數", "OK総数"};
        QTest::newRow("543 NG total") << 543 << QStringList{"NG总数", "NG Total", "NG總數", "NG総数"};
        QTest::newRow("590 anomalies")
            << 590 << QStringList{"异常次数", "Number of anomaly", "异常次數", "異常回数"};
        // Rewordings undone: these rows read as they always did; the obvious faults beside them stay mended.
        QTest::newRow("427 technical name")
            << 427 << QStringList{"技术员姓名", "Technical name", "技術員姓名", "技術者名"};
        QTest::newRow("428 informer phone")
            << 428 << QStringList{"通知电话", "Informer phone", "通知電話", "通知先電話番号"};
        QTest::newRow("600 native id") << 600 << QStringList{"本机ID", "Native ID", "本機ID", "ネイティブID"};
        QTest::newRow("286 mended placeholder")
            << 286 << QStringList{"参数组还原为%1", "Restore the parameter group to %1", "參數組還原為%1",
                                  "パラメータグループを%1に復元"};
        QTest::newRow("554 mended English")
            << 554 << QStringList{"温度报警控制合模", "Temperature alarm controls clamping", "溫度報警控制合模",
                                  "温度警報制御型締"};
        QTest::newRow("614") << 614 << QStringList{"wifi名称:", "name:", "wifi名:", "名称"};
    }
    void rowsGivenInFull()
    {
        QFETCH(int, row);
        QFETCH(QStringList, texts);
        for (int l = 0; l < kUiLanguages; ++l)
            QCOMPARE(uiText(row, l), texts.at(l));
    }

    void englishDetails()
    {
        // Line breaks, blanks and the mended placeholder as the screens and the record need them.
        QCOMPARE(uiText(1, 1), QStringLiteral(
                                   "Regional parameter file error, \r\n please restore the Parameter Group \r\n"
                                   " or contact the supplier!"));
        QCOMPARE(uiText(204, 1), QStringLiteral("  Break"));
        QCOMPARE(uiText(68, 1), QStringLiteral("If you want to delete the first \r\ntemplate, please click "
                                               "\"Resample\"!"));
        QCOMPARE(uiText(286, 1), QStringLiteral("Restore the parameter group to %1"));
        QCOMPARE(uiText(218, 1), QStringLiteral("camera %1 detection %2 %3  %5 / %4    %6"));
    }

    void currentLanguageSelectsTheColumn()
    {
        const int saved = gLanguage;
        gLanguage = 1;
        QCOMPARE(uiText(121), QStringLiteral("Confirm"));
        gLanguage = 2;
        QCOMPARE(uiText(121), QStringLiteral("確定"));
        gLanguage = saved;
    }

    void escapes()
    {
        QCOMPARE(unescapeUiText(QStringLiteral("a\\r\\nb\\tc\\\\d")), QStringLiteral("a\r\nb\tc\\d"));
        QCOMPARE(unescapeUiText(QStringLiteral("trailing\\")), QStringLiteral("trailing\\"));
    }
};

QTEST_GUILESS_MAIN(TestUiTextTable)
#include "tst_uitexttable.moc"
