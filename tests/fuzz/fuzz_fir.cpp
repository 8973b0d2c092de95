// FIR/limiter sets in every form: the flash image, a ".fir" file (raw, zip or XML by its
// content), a ".blk" file with its ".fcs" companion, a zip archive, XML text. A set read
// from a file never carries limiter words that disagree with its limiter values.
#include "FilterLimiterEWS.h"
#include "FuzzSupport.h"
#include "ZunFirFile.h"

#include <stdexcept>

namespace {

void readFile(const QString& path)
{
    try {
        FilterLimiterEWS set(path, 48000.0);
        FilterLimiterEWS copy(nullptr, set.toByteArray());
        copy.update();
        ZUN_FUZZ_CHECK(copy.toByteArray() == set.toByteArray());
        set.getInfoHtml(QStringList());
    } catch (const std::exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    if (size < 3)
        return 0;
    const QByteArray rest = ZunFuzz::bytes(data + 3, size - 3);
    switch (data[0] % 5) {
    case 0: // as the flash returns it
        try {
            FilterLimiterEWS set(nullptr, rest);
            set.serialise(set.GetName());
        } catch (const std::exception&) {
        }
        break;
    case 1:
        ZunFuzz::writeFile(ZunFuzz::scratch("set.fir"), rest);
        readFile(ZunFuzz::scratch("set.fir"));
        break;
    case 2: { // the coefficient blocks and their parameter file, cut where the input says
        const int cut = std::min(int(data[1] | data[2] << 8), int(rest.size()));
        ZunFuzz::writeFile(ZunFuzz::scratch("set.blk"), rest.mid(cut));
        ZunFuzz::writeFile(ZunFuzz::scratch("set.fcs"), rest.left(cut));
        readFile(ZunFuzz::scratch("set.blk"));
        break;
    }
    case 3:
        ZunFuzz::writeFile(ZunFuzz::scratch("set.zip"), rest);
        readFile(ZunFuzz::scratch("set.zip"));
        break;
    default:
        try {
            CBlockFIR image(ZunFirFile::imageFromXml(rest));
            ZunFirFile::xmlFromImage(image.serialise(QString()));
        } catch (const std::exception&) {
        }
        break;
    }
    return 0;
}
