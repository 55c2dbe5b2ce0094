#include "testdb/SampleDatabases.h"

#include "common/WholeFile.h"
#include "testdb/BdtImage.h"
#include "testdb/KeyOrder.h"

#include <QDir>
#include <QtEndian>

#include <vector>

namespace {

struct TSampleRecord
{
    const char *group;
    const char *middle;
    const char *entry;
    int pages;
};

// The instrument's records in the order it keeps them (not sorted).
const std::vector<TSampleRecord> &deviceRecordsList()
{
    static const std::vector<TSampleRecord> list{
        {"Гепатиты", "Диатест", "анти-HCV", 3},
        {"Гормоны", "Иммунолаб", "ТТГ", 1},
        {"TORCH", "Vectra", "IgG-CMV", 5},
        {"Гепатиты", "Диатест", "HBsAg", 2},
        {"ВИЧ", "Диатест", "ВИЧ-1/2", 4},
        {"Гормоны", "Иммунолаб", "Т4св", 1},
        {"Онкомаркеры", "Иммунолаб", "ПСА-общ", 2},
        {"Гепатиты", "Vectra", "HBsAg", 2},
        {"TORCH", "Vectra", "IgM-CMV", 5},
        {"Гормоны", "Nordika", "Эстрадиол", 3},
        {"Гепатиты", "Диатест", "анти-HBc", 1},
        {"Онкомаркеры", "Иммунолаб", "РЭА", 1},
        {"Инфекции", "Диатест", "Сифилис суммарные", 2},
        {"Гормоны", "Иммунолаб", "Пролактин", 2},
        {"TORCH", "Vectra", "IgG-Toxo", 2},
        {"Allergy", "Nordika", "IgE-total", 1},
    };
    return list;
}

// The file's records: two of the instrument's are missing, four are new (one of them
// differs from an instrument's test system only in its middle key).
const std::vector<TSampleRecord> &fileRecordsList()
{
    static const std::vector<TSampleRecord> list{
        {"Allergy", "Nordika", "IgE-панель", 3},
        {"Гепатиты", "Диатест", "HBsAg", 2},
        {"Гепатиты", "Диатест", "анти-HCV", 3},
        {"Гепатиты", "Диатест", "анти-HBc", 1},
        {"Гепатиты", "Vectra", "HBsAg", 2},
        {"Гормоны", "Иммунолаб", "Кортизол", 2},
        {"Гормоны", "Иммунолаб", "ТТГ", 1},
        {"Гормоны", "Иммунолаб", "Т4св", 1},
        {"Гормоны", "Иммунолаб", "Пролактин", 2},
        {"Гормоны", "Nordika", "Эстрадиол", 3},
        {"Онкомаркеры", "Иммунолаб", "ПСА-общ", 2},
        {"Онкомаркеры", "Иммунолаб", "СА-125", 4},
        {"ВИЧ", "Диатест", "ВИЧ-1/2", 4},
        {"Инфекции", "Диатест", "Сифилис суммарные", 2},
        {"TORCH", "Vectra", "IgG-CMV", 5},
        {"TORCH", "Диатест", "IgG-Toxo", 2},
        {"Allergy", "Nordika", "IgE-total", 1},
    };
    return list;
}

// xorshift32: bodies and trailers that never repeat within a sample.
quint32 nextValue(quint32 &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

QByteArray patternPage(quint32 seed, quint32 mark)
{
    QByteArray page(bdt::pageSize, '\0');
    quint32 state = seed * 2654435761u + 0x9E3779B9u;
    for (char &byte : page)
        byte = static_cast<char>(nextValue(state) >> 24);
    qToLittleEndian<quint32>(mark, page.data() + bdt::pageMarkOffset);
    return page;
}

QByteArray recordPages(const TSampleRecord &record, quint32 seed)
{
    QByteArray pages;
    for (int i = 0; i < record.pages; ++i)
        pages.append(patternPage(seed + quint32(i), bdt::recordPageMark));
    qToLittleEndian<qint32>(record.pages, pages.data());
    const char *texts[bdt::keyFieldCount] = {record.group, record.middle, record.entry};
    for (int f = 0; f < bdt::keyFieldCount; ++f) {
        const QByteArray field = encodeKeyText(QString::fromUtf8(texts[f]))
                                         .leftJustified(bdt::keyFieldSize[f], ' ', true);
        pages.replace(bdt::keyFieldOffset[f], field.size(), field);
    }
    return pages;
}

// FNV-1a of the three names: the same record gets the same contents in both samples.
quint32 recordSeed(const TSampleRecord &record)
{
    quint32 hash = 2166136261u;
    for (const char c : QByteArray(record.group) + record.middle + record.entry) {
        hash ^= static_cast<quint8>(c);
        hash *= 16777619u;
    }
    return hash;
}

QByteArray assemble(const std::vector<TSampleRecord> &records, TSampleFlaws flaws, int duplicateOf, int strayAfter)
{
    const bool flawed = flaws == TSampleFlaws::DuplicateAndStrayPage;
    QByteArray pages;
    for (int i = 0; i < static_cast<int>(records.size()); ++i) {
        pages.append(recordPages(records[size_t(i)], recordSeed(records[size_t(i)])));
        if (flawed && i == strayAfter)
            pages.append(patternPage(0xC0FFEEu, 0)); // a page outside any record
    }
    // A later copy of one record with other contents: it is passed over when read.
    if (flawed)
        pages.append(recordPages(records[size_t(duplicateOf)], 0xD0D0u));
    pages.append(patternPage(0xF1AA1u, bdt::finalPageMark));
    return headerBytes(static_cast<int>(pages.size() / bdt::pageSize)) + pages;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    return writeFileWhole(path, bytes).isEmpty();
}

} // namespace

QByteArray sampleDeviceImage(TSampleFlaws flaws)
{
    return assemble(deviceRecordsList(), flaws, 1, 6);
}

QByteArray sampleFileImage(TSampleFlaws flaws)
{
    return assemble(fileRecordsList(), flaws, 9, 3);
}

bool writeSampleDatabases(const QString &folder)
{
    const QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        return false;
    const bool device = writeFile(dir.filePath(QString::fromLatin1(sampleDeviceFileName)),
                                  sampleDeviceImage());
    const bool file = writeFile(dir.filePath(QString::fromLatin1(sampleFileFileName)),
                                sampleFileImage());
    return device && file;
}
