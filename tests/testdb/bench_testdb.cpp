// Reading two databases into their trees, rebuilding both in normal form and building
// the additional list, for images of 100 and of 999 pages.

#include "testdb/BDTSDatabase.h"
#include "testdb/BdtImage.h"
#include "testdb/KeyOrder.h"

#include <QCoreApplication>
#include <QtEndian>

#include <benchmark/benchmark.h>

namespace {

QByteArray patternPage(quint32 seed, quint32 mark)
{
    QByteArray page(bdt::pageSize, '\0');
    quint32 x = seed * 2654435761u + 1u;
    for (char &c : page) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    qToLittleEndian<quint32>(mark, page.data() + bdt::pageMarkOffset);
    return page;
}

void putKey(QByteArray &page, int field, const QString &text)
{
    const QByteArray bytes = encodeKeyText(text).leftJustified(bdt::keyFieldSize[size_t(field)], ' ', true);
    page.replace(bdt::keyFieldOffset[size_t(field)], bytes.size(), bytes);
}

// Records of 1 to 5 pages in no particular order, until the image has `pages` pages;
// `variant` renames every seventh test system so that two images differ.
QByteArray makeImage(int pages, int variant)
{
    static const QStringList groups{"Гепатиты", "Гормоны", "TORCH", "Allergy", "Онкомаркеры",
                                    "ВИЧ", "Инфекции", "Coagulation", "Аутоиммунные", "Drugs"};
    static const QStringList middles{"Диатест", "Vectra", "Иммунолаб", "Nordika"};
    QByteArray body;
    int used = 1;
    for (int i = 0; used < pages; ++i) {
        const int p = std::min((i * 7) % 5 + 1, pages - used);
        const int id = (i * 389) % 1000;
        QByteArray record;
        for (int j = 0; j < p; ++j)
            record += patternPage(quint32(i * 8 + j), bdt::recordPageMark);
        qToLittleEndian<qint32>(p, record.data());
        putKey(record, 0, groups[id % groups.size()]);
        putKey(record, 1, middles[(id / 10) % middles.size()]);
        const bool renamed = variant && i % 7 == 0;
        putKey(record, 2, QStringLiteral("%1-%2").arg(renamed ? "Нов" : "ТС").arg(id, 3, 10, QChar('0')));
        body += record;
        used += p;
    }
    body += patternPage(7u, bdt::finalPageMark);
    return headerBytes(pages) + body;
}

void BM_ParseRebuildAdditional(benchmark::State &state)
{
    const int pages = int(state.range(0));
    const QByteArray device = makeImage(pages, 0);
    const QByteArray file = makeImage(pages, 1);
    TBDTSDatabase lists;
    lists.deviceListLoaded = lists.fileListLoaded = true;
    for (auto _ : state) {
        lists.deviceImage = device;
        lists.fileImage = file;
        lists.ParseImage(TBDTSSide::Device, pages);
        lists.RebuildImage(TBDTSSide::Device);
        lists.ParseImage(TBDTSSide::File, pages);
        lists.RebuildImage(TBDTSSide::File);
        lists.BuildAdditionalList();
        benchmark::DoNotOptimize(lists.addImage);
    }
    state.counters["testSystems"] = lists.deviceTSCount;
    state.counters["missing"] = lists.addTSCount;
}
BENCHMARK(BM_ParseRebuildAdditional)->Arg(100)->Arg(999)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
