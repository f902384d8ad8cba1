// The "Export..." command's work for a table of 10,000 rows and a partner
// list of 100 partners with five contact lines each: the rows taken from the
// window's table, the tables built, the file written and renamed into place.
// The goal is well under a second for either format.
#include "app/export_formats.h"
#include "app/globals.h"
#include "app/results_table.h"
#include "app/unit1.h"
#include "tests/support/loopback_server.h"
#include "ui_unit1.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int kPartners = 100;

// Fills the partner list and reads every partner's contact data with "Get
// Data" from a loopback service, as the user would.
void readPartners(TForm1 &form)
{
    using kelvora::testsupport::LoopbackServer;
    LoopbackServer server([](const std::string &) {
        const std::string body = "<!--contact-->Jo Partner<br>1 Main Street<br>Town, Country<br>"
                                 "jo@partner.test<br>+1 555 0100<!--/contact-->";
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    });
    const std::string resolve = "*=127.0.0.1:" + std::to_string(server.port());
    ::setenv("KELVORA_RESOLVE", resolve.c_str(), 1);
    ::setenv("KELVORA_TRAFFIC_HOST", "traffic.test", 1);
    QComboBox *list = form.ui()->cbURL;
    for (int i = 0; i < kPartners; ++i) {
        list->addItem(QStringLiteral("www.partner%1.test").arg(i));
        list->setCurrentIndex(i);
        form.BitBtn3Click();
    }
}

// The window with rows table rows, filled once per size.
TForm1 &formWithRows(int rows)
{
    static int filled = -1;
    TForm1 *form = Form1;
    if (filled != rows) {
        kelvora::ClearRows(form->ui()->ListView1);
        for (int i = 0; i < rows; ++i) {
            kelvora::AddRow(form->ui()->ListView1,
                            {QStringLiteral("www.site%1.example.test").arg(i), i % 3 == 0,
                             {QString::number(i + 1), QString::number(i * 37 % 100000),
                              QString::number(1000 + i * 7919 % 999999), QStringLiteral("12-Jan-1999"),
                              QString::number(i % 500 - 20), QStringLiteral("rival%1.test").arg(i % 50)}});
        }
        filled = rows;
    }
    return *form;
}

void exportTable(benchmark::State &state, const char *suffix, const char *name)
{
    const kelvora::ExportFormat &format = *kelvora::ExportFormatForSuffix(QLatin1String(suffix));
    TForm1 &form = formWithRows(int(state.range(0)));
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(name));
    for (auto _ : state)
        form.ExportResults(path, format);
    state.counters["bytes"] = double(QFile(path).size());
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void exportCsv(benchmark::State &state)
{
    exportTable(state, "csv", "list.csv");
}

void exportWorkbook(benchmark::State &state)
{
    exportTable(state, "xlsx", "list.xlsx");
}

} // namespace

BENCHMARK(exportCsv)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(exportWorkbook)->Arg(10000)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    readPartners(*form);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Form1 = nullptr;
    return 0;
}
