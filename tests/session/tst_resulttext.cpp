// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Text from outside as the tool prints it: nothing in it may steer the terminal or split a
// line, and nothing of it is printed at any length.
#include "resulttext.h"

#include <QtTest>

class TestResultText : public QObject
{
    Q_OBJECT

private slots:
    void printable_data();
    void printable();
};

void TestResultText::printable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxChars");
    QTest::addColumn<QString>("shown");

    const QString a64(64, QLatin1Char('a'));
    QTest::newRow("plain name") << "IMU Controller A" << 64 << "IMU Controller A";
    QTest::newRow("letters of any script") << QString::fromUtf8("Größe 制御") << 64 << QString::fromUtf8("Größe 制御");
    QTest::newRow("escape sequence") << "\x1b[2J\x1b[31mred" << 64 << "\\x1b[2J\\x1b[31mred";
    QTest::newRow("line ends and tab") << "one\ntwo\r\tthree" << 64 << "one\\ntwo\\r\\tthree";
    QTest::newRow("a backslash stays told apart from an escape") << "a\\nb" << 64 << "a\\\\nb";
    QTest::newRow("delete and a C1 control") << QString("x\x7f") + QChar(0x9b) << 64 << "x\\x7f\\x9b";
    QTest::newRow("right-to-left override") << QString("abc") + QChar(0x202e) << 64 << "abc\\u202e";
    QTest::newRow("line separator") << QString("a") + QChar(0x2028) + "b" << 64 << "a\\u2028b";
    QTest::newRow("unprintable beyond the first plane") << QString::fromUcs4(U"\U000E0001x") << 64 << "\\U000e0001x";
    QTest::newRow("a lone surrogate") << QString(QChar(0xd800)) << 64 << "\\ud800";
    QTest::newRow("a pair of surrogates is one character") << QString::fromUtf8("😀😀") << 2 << QString::fromUtf8("😀😀");
    QTest::newRow("exactly at the length") << a64 << 64 << a64;
    QTest::newRow("cut beyond the length") << a64 + "bbbb" << 64 << a64 + QString::fromUtf8("…");
    QTest::newRow("an escape is not cut in two") << QString(62, 'a') + "\x1b" << 64 << QString(62, 'a') + QString::fromUtf8("…");
    QTest::newRow("a longer length for paths") << QString(200, 'p') << 256 << QString(200, 'p');
}

void TestResultText::printable()
{
    QFETCH(QString, text);
    QFETCH(int, maxChars);
    QFETCH(QString, shown);

    const QString got = printableText(text, maxChars);
    QCOMPARE(got, shown);
    for (const QChar c : got)
        QVERIFY2(c.isPrint() || c.isSurrogate(), qPrintable(got));
}

QTEST_GUILESS_MAIN(TestResultText)
#include "tst_resulttext.moc"
