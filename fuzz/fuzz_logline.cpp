// The log viewer on any log file: the scan in slices, the rows it finds, the fields of each line.
#include "FuzzInput.h"
#include "log/LogIndex.h"

#include <QTemporaryFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const qint64 slice = 1 + in.Byte() * 7;
    const QByteArray bytes = in.Rest();

    const LogIndex::Fields f = LogIndex::SplitLine(bytes);
    for (const QString& field : f)
        FUZZ_CHECK(field.size() <= bytes.size());

    static QTemporaryFile file;
    if (!file.isOpen() && !file.open())
        return 0;
    file.resize(0);
    file.seek(0);
    file.write(bytes);
    file.flush();

    LogIndex index;
    if (!index.Open(file.fileName()))
        return 0;
    int guard = 0;
    while (!index.Scan(slice))
        FUZZ_CHECK(++guard <= bytes.size() + 1);
    // At least three separators make a row, so there cannot be more rows than a quarter of the bytes.
    FUZZ_CHECK(index.RowCount() <= bytes.size() / 3);
    for (int row = 0; row < index.RowCount(); ++row)
        (void)index.Row(row);
    (void)index.Row(-1);
    (void)index.Row(index.RowCount());
    return 0;
}
