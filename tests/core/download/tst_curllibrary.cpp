// The download engine reaches libcurl through stand-ins that load it on the
// first call (core/download/CurlLibrary.cpp). Each kind of option argument
// must arrive at the library as it was given: libcurl's own checks of the
// values tell whether it did.
#include "common/TestEnvironment.h"

#include <curl/curl.h>

#include <QtTest>

class CurlLibraryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK); }

    // A value libcurl refuses is refused, one it takes is taken: a long, a
    // curl_off_t, a string, a function and an option it does not know.
    void easyOptionsArriveAsGiven_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("long taken") << int(CURLOPT_MAXREDIRS) << qint64(-1) << int(CURLE_OK);
        QTest::newRow("long refused") << int(CURLOPT_MAXREDIRS) << qint64(-2) << int(CURLE_BAD_FUNCTION_ARGUMENT);
        QTest::newRow("off_t taken") << int(CURLOPT_MAXFILESIZE_LARGE) << qint64(1) << int(CURLE_OK);
        QTest::newRow("off_t beyond 32 bits") << int(CURLOPT_MAXFILESIZE_LARGE) << (qint64(1) << 40) << int(CURLE_OK);
        QTest::newRow("off_t refused") << int(CURLOPT_MAXFILESIZE_LARGE) << qint64(-1) << int(CURLE_BAD_FUNCTION_ARGUMENT);
        QTest::newRow("unknown option") << 9999 << qint64(0) << int(CURLE_UNKNOWN_OPTION);
    }
    void easyOptionsArriveAsGiven()
    {
        QFETCH(int, option);
        QFETCH(qint64, value);
        QFETCH(int, expected);
        CURL *easy = curl_easy_init();
        QVERIFY(easy);
        const auto kind = CURLoption(option);
        const CURLcode result = kind >= CURLOPTTYPE_OFF_T ? curl_easy_setopt(easy, kind, curl_off_t(value))
                                                          : curl_easy_setopt(easy, kind, long(value));
        curl_easy_cleanup(easy);
        QCOMPARE(int(result), expected);
        QVERIFY(std::strlen(curl_easy_strerror(result)) > 0);
    }

    // A pointer given to the handle comes back through curl_easy_getinfo.
    void pointerComesBack()
    {
        CURL *easy = curl_easy_init();
        QVERIFY(easy);
        int mark = 0;
        QCOMPARE(curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void *>(&mark)), CURLE_OK);
        QCOMPARE(curl_easy_setopt(easy, CURLOPT_URL, "http://127.0.0.1:9/"), CURLE_OK);
        char *kept = nullptr;
        QCOMPARE(curl_easy_getinfo(easy, CURLINFO_PRIVATE, &kept), CURLE_OK);
        QCOMPARE(static_cast<void *>(kept), static_cast<void *>(&mark));
        curl_easy_cleanup(easy);
    }

    void multiOptions_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<int>("expected");
        QTest::newRow("long") << int(CURLMOPT_MAXCONNECTS) << int(CURLM_OK);
        QTest::newRow("unknown option") << 9999 << int(CURLM_UNKNOWN_OPTION);
    }
    void multiOptions()
    {
        QFETCH(int, option);
        QFETCH(int, expected);
        CURLM *multi = curl_multi_init();
        QVERIFY(multi);
        const CURLMcode result = curl_multi_setopt(multi, CURLMoption(option), 5L);
        QCOMPARE(curl_multi_cleanup(multi), CURLM_OK);
        QCOMPARE(int(result), expected);
        QVERIFY(std::strlen(curl_multi_strerror(result)) > 0);
    }

    void listsGrow()
    {
        curl_slist *list = curl_slist_append(nullptr, "A: 1");
        QVERIFY(list);
        list = curl_slist_append(list, "B: 2");
        QVERIFY(list && list->next);
        QCOMPARE(QByteArray(list->next->data), QByteArray("B: 2"));
        curl_slist_free_all(list);
    }
};

KELVARO_TEST_MAIN(CurlLibraryTest)
#include "tst_curllibrary.moc"
