// Proves that the test run has the private services it promises: the Secret Service on a
// private session bus, and a private PulseAudio with the expected default sink and a
// microphone source. Under scripts/test nothing here may skip.

#include <QTest>

#include <libsecret/secret.h>
#include <pulse/pulseaudio.h>

class tst_TestServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secretServiceStoresAndReads();
    void pulseAudioHasTheTestDevices();
};

static const SecretSchema *testSchema()
{
    static const SecretSchema schema = {
        "app.kavrel.desktop.TestServices",
        SECRET_SCHEMA_NONE,
        {{"probe", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

void tst_TestServices::secretServiceStoresAndReads()
{
    if (qEnvironmentVariableIsEmpty("KAVREL_TEST_SECRET_SERVICE"))
        QSKIP("KAVREL_TEST_SECRET_SERVICE is not set: run under scripts/test to get a private Secret Service");

    GError *error = nullptr;
    const bool stored = secret_password_store_sync(testSchema(), SECRET_COLLECTION_DEFAULT, "kavrel probe",
                                                   "probe-secret", nullptr, &error, "probe", "environment", nullptr);
    QVERIFY2(stored && !error, error ? error->message : "store failed");

    gchar *secret = secret_password_lookup_sync(testSchema(), nullptr, &error, "probe", "environment", nullptr);
    QVERIFY2(!error, error ? error->message : "");
    QCOMPARE(QByteArray(secret), QByteArray("probe-secret"));
    secret_password_free(secret);

    QVERIFY(secret_password_clear_sync(testSchema(), nullptr, &error, "probe", "environment", nullptr));
    secret = secret_password_lookup_sync(testSchema(), nullptr, &error, "probe", "environment", nullptr);
    QVERIFY(secret == nullptr);
}

namespace {
struct PulseProbe
{
    bool done = false;
    QByteArray defaultSink;
    QByteArray defaultSource;
    QList<QByteArray> sources;
    int pending = 0;
};
} // namespace

void tst_TestServices::pulseAudioHasTheTestDevices()
{
    if (qEnvironmentVariableIsEmpty("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: run under scripts/test to get a private PulseAudio");

    pa_mainloop *loop = pa_mainloop_new();
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "kavrel-test");
    QVERIFY(pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) >= 0);

    PulseProbe probe;
    bool requested = false;
    for (int i = 0; i < 2000 && !probe.done; ++i) {
        pa_mainloop_iterate(loop, 1, nullptr);
        const auto state = pa_context_get_state(context);
        QVERIFY2(state != PA_CONTEXT_FAILED && state != PA_CONTEXT_TERMINATED, pa_strerror(pa_context_errno(context)));
        if (state == PA_CONTEXT_READY && !requested) {
            requested = true;
            probe.pending = 2;
            pa_operation_unref(pa_context_get_server_info(context, [](pa_context *, const pa_server_info *info, void *data) {
                auto *p = static_cast<PulseProbe *>(data);
                p->defaultSink = info->default_sink_name;
                p->defaultSource = info->default_source_name;
                if (--p->pending == 0)
                    p->done = true;
            }, &probe));
            pa_operation_unref(pa_context_get_source_info_list(context, [](pa_context *, const pa_source_info *info, int eol, void *data) {
                auto *p = static_cast<PulseProbe *>(data);
                if (eol) {
                    if (--p->pending == 0)
                        p->done = true;
                    return;
                }
                p->sources.append(info->name);
            }, &probe));
        }
    }
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);

    QVERIFY(probe.done);
    QCOMPARE(probe.defaultSink, qgetenv("KAVREL_TEST_PULSE_SINK"));
    QCOMPARE(probe.defaultSource, qgetenv("KAVREL_TEST_PULSE_MIC_SOURCE"));
    QVERIFY(probe.sources.contains(qgetenv("KAVREL_TEST_PULSE_SINK") + ".monitor"));
    QVERIFY(probe.sources.contains(qgetenv("KAVREL_TEST_PULSE_MIC_SOURCE")));
}

QTEST_GUILESS_MAIN(tst_TestServices)
#include "tst_TestServices.moc"
