#include "pdfoutput.h"

#include "documentfile.h"

#include <QDebug>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <unistd.h>

#include <exception>
#include <string>
#include <vector>

namespace pdfoutput {

namespace {

constexpr size_t kGatherBytes = 1 << 16;

// Failures are kept, not thrown: qpdf finishes its pipelines from
// destructors too, where an exception would end the program. qpdf hands
// over a document in a great many small pieces (keys, numbers, object
// headers), so small pieces are gathered into blocks; every block still
// goes to the file as one checked write.
class CheckedFile : public Pipeline {
public:
    explicit CheckedFile(CompleteFile &file) : Pipeline("document file", nullptr), file(file)
    {
        gathered.reserve(kGatherBytes);
    }

    void write(unsigned char const *data, size_t length) override
    {
        if (failed)
            return;
        if (gathered.size() + length <= kGatherBytes) {
            gathered.insert(gathered.end(), data, data + length);
            return;
        }
        writeGathered();
        if (length < kGatherBytes)
            gathered.insert(gathered.end(), data, data + length);
        else
            writeBlock(reinterpret_cast<const char *>(data), length);
    }

    // qpdf finishes its pipeline after every stream; the file is flushed
    // and synced once, when the whole document is in it (complete()).
    void finish() override {}

    bool complete()
    {
        writeGathered();
        if (!failed && (!file.flush() || ::fsync(file.handle()) != 0))
            fail("flush");
        return !failed;
    }

private:
    void writeGathered()
    {
        writeBlock(gathered.data(), gathered.size());
        gathered.clear();
    }

    void writeBlock(const char *data, size_t length)
    {
        if (!failed && length > 0 && file.write(data, qint64(length)) != qint64(length))
            fail("write");
    }

    void fail(const char *step)
    {
        failed = true;
        qDebug() << "pdf" << step << "failed:" << file.fileName() << file.errorString();
    }

    CompleteFile &file;
    std::vector<char> gathered;
    bool failed = false;
};

} // namespace

bool save(QPDF &pdf, const QString &target)
{
    // Unbuffered and checked write by write: a block the disk takes only in
    // part must fail the document, not vanish in a buffer.
    CompleteFile file(target);
    if (!file.openForWriting()) {
        qDebug() << "pdf not opened:" << target << file.errorString();
        return false;
    }
    try {
        CheckedFile output(file);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&output);
        writer.write();
        if (!output.complete())
            return false;
    } catch (const std::exception &error) {
        qDebug() << "pdf not written:" << target << error.what();
        return false;
    }
    return file.finish();
}

} // namespace pdfoutput
