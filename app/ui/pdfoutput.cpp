#include "pdfoutput.h"

#include <QDebug>
#include <QFile>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <unistd.h>

#include <exception>
#include <string>

namespace pdfoutput {

namespace {

// Failures are kept, not thrown: qpdf finishes its pipelines from
// destructors too, where an exception would end the program.
class CheckedFile : public Pipeline {
public:
    explicit CheckedFile(QFile &file) : Pipeline("document file", nullptr), file(file) {}

    void write(unsigned char const *data, size_t length) override
    {
        if (failed)
            return;
        if (file.write(reinterpret_cast<const char *>(data), qint64(length)) != qint64(length))
            fail("write");
    }

    // qpdf finishes its pipeline after every stream; the file is flushed
    // and synced once, when the whole document is in it (complete()).
    void finish() override {}

    bool complete()
    {
        if (!failed && (!file.flush() || ::fsync(file.handle()) != 0))
            fail("flush");
        return !failed;
    }

private:
    void fail(const char *step)
    {
        failed = true;
        qDebug() << "pdf" << step << "failed:" << file.fileName() << file.errorString();
    }

    QFile &file;
    bool failed = false;
};

} // namespace

bool save(QPDF &pdf, const QString &target)
{
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
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
    file.close();
    return file.error() == QFileDevice::NoError;
}

} // namespace pdfoutput
