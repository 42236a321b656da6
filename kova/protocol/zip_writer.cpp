#include "kova/protocol/zip_writer.h"

#include <cstdint>
#include <utility>

namespace kova {

zip_writer::zip_writer(compress_holder& compressor)
{
    stream_compress::create(compressor);
    compressor_ = compressor;
}

void zip_writer::compress(netbuf& data)
{
    netbuf taken(std::move(data));
    data = netbuf();
    if (taken.get() != nullptr) {
        for (netbuf::cursor c(taken); c.valid(); c.next()) {
            const std::uint8_t* bytes = nullptr;
            std::size_t length = 0;
            c.data(&bytes, &length);
            compressor_->write(bytes, length);
        }
    }
    compressor_->take_output(output_);
}

void zip_writer::flush()
{
    compressor_->flush();
    compressor_->take_output(output_);
}

}  // namespace kova
