// The GIF encoder against its anchors, each called in this process on the same raw pixels: the
// library's encoder (built natively from src/page/GifEncoderUnit.cpp), ImageMagick (MagickWand:
// quantize to 256 colours without dithering, write GIF), ffmpeg (libavfilter palettegen, then paletteuse
// with dither=none, then the GIF muxer) and libimagequant (dithering level 0) written with giflib. A
// native program: bench/gif_bench.sh builds it with the system compiler against Debian's libraries
// (bench/setup.sh installs them) and compares the GIFs it writes with ImageMagick's compare.
//
//   AnchorBench [--runs N] FILE.ppm...   writes FILE.<tool>.gif beside each input and prints for each tool
//   RESULT <file> <tool> <width> <height> <best ms> <median ms> <bytes> <mean CPU ms>
//   AnchorBench --colors C [--runs N] FILE.ppm...   only the library's encoder, with a palette of at most
//   C colours, as the tool "oursC" (the rate-distortion sweep of gif_bench.sh)
// The time runs from the raw pixels in memory to the complete GIF file in memory: quantizing, mapping and
// compressing, nothing of reading or writing files. The CPU time is the process's (every thread a tool
// may start) over the timed runs, divided by their number: unlike the clock, it does not count the time
// other programs of a busy machine had the processor.
#include <gif_lib.h>
#include <libimagequant.h>
#include <wand/MagickWand.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "PpmReader.h"
#include "page/GifEncoderUnit.h"

namespace {

struct TPicture {
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::vector<uint8_t> Rgb;  // R, G, B
    std::vector<uint8_t> Rgba; // R, G, B, 255
    std::vector<uint8_t> Bgrx; // B, G, R, 0: the layout of the library's bitmaps
};

TPicture ReadPpm(const std::string& path) {
    zorbex::bench::TPpm ppm = zorbex::bench::ReadPpm(path, path);
    TPicture picture{ppm.Width, ppm.Height, std::move(ppm.Rgb), {}, {}};
    picture.Bgrx = zorbex::bench::ToBgrx(picture.Rgb);
    picture.Rgba.resize(picture.Rgb.size() / 3 * 4);
    for (size_t i = 0, j = 0; i < picture.Rgb.size(); i += 3, j += 4) {
        std::copy_n(&picture.Rgb[i], 3, &picture.Rgba[j]);
        picture.Rgba[j + 3] = 255;
    }
    return picture;
}

using TBytes = std::vector<uint8_t>;

TBytes Ours(const TPicture& picture, uint32_t maxColors = 256) {
    return zorbex::EncodeGif({picture.Width, picture.Height, picture.Bgrx, 0},
                             {maxColors, zorbex::TGifDither::None});
}

TBytes ImageMagick(const TPicture& picture) {
    MagickWand* wand = NewMagickWand();
    TBytes gif;
    if (MagickConstituteImage(wand, picture.Width, picture.Height, "RGB", CharPixel, picture.Rgb.data()) &&
        MagickQuantizeImage(wand, 256, sRGBColorspace, 0, MagickFalse, MagickFalse) &&
        MagickSetImageFormat(wand, "GIF")) {
        size_t length = 0;
        unsigned char* blob = MagickGetImageBlob(wand, &length);
        if (blob) {
            gif.assign(blob, blob + length);
            MagickRelinquishMemory(blob);
        }
    }
    DestroyMagickWand(wand);
    if (gif.empty())
        throw std::runtime_error("ImageMagick failed");
    return gif;
}

int WriteToVector(GifFileType* file, const GifByteType* bytes, int length) {
    auto* out = static_cast<TBytes*>(file->UserData);
    out->insert(out->end(), bytes, bytes + length);
    return length;
}

TBytes ImageQuant(const TPicture& picture) {
    liq_attr* attributes = liq_attr_create();
    liq_image* image = liq_image_create_rgba(attributes, picture.Rgba.data(), static_cast<int>(picture.Width),
                                             static_cast<int>(picture.Height), 0);
    liq_result* result = nullptr;
    if (liq_image_quantize(image, attributes, &result) != LIQ_OK)
        throw std::runtime_error("libimagequant failed");
    liq_set_dithering_level(result, 0.0f);
    std::vector<uint8_t> indices(size_t{picture.Width} * picture.Height);
    liq_write_remapped_image(result, image, indices.data(), indices.size());
    const liq_palette* palette = liq_get_palette(result);

    TBytes gif;
    int error = 0;
    GifFileType* file = EGifOpen(&gif, WriteToVector, &error);
    int bits = 1;
    while ((1u << bits) < palette->count)
        ++bits;
    ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
    for (unsigned i = 0; i < static_cast<unsigned>(1 << bits); ++i) {
        const liq_color color = i < palette->count ? palette->entries[i] : liq_color{0, 0, 0, 255};
        map->Colors[i] = {color.r, color.g, color.b};
    }
    EGifSetGifVersion(file, true);
    EGifPutScreenDesc(file, static_cast<int>(picture.Width), static_cast<int>(picture.Height), 8, 0, map);
    EGifPutImageDesc(file, 0, 0, static_cast<int>(picture.Width), static_cast<int>(picture.Height), false, nullptr);
    for (uint32_t y = 0; y < picture.Height; ++y)
        EGifPutLine(file, indices.data() + size_t{y} * picture.Width, static_cast<int>(picture.Width));
    EGifCloseFile(file, &error);
    GifFreeMapObject(map);
    liq_result_destroy(result);
    liq_image_destroy(image);
    liq_attr_destroy(attributes);
    return gif;
}

// palettegen, then paletteuse without dithering, as `ffmpeg -vf "split[a][b];[a]palettegen[p];[b][p]
// paletteuse=dither=none"` does, and the GIF muxer into memory.
TBytes Ffmpeg(const TPicture& picture) {
    AVFilterGraph* graph = avfilter_graph_alloc();
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    const std::string arguments = "video_size=" + std::to_string(picture.Width) + "x" +
                                  std::to_string(picture.Height) + ":pix_fmt=" + std::to_string(AV_PIX_FMT_RGB24) +
                                  ":time_base=1/25:pixel_aspect=1/1";
    if (avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in", arguments.c_str(), nullptr, graph) <
            0 ||
        avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph) < 0)
        throw std::runtime_error("ffmpeg: filters");
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    if (avfilter_graph_parse_ptr(graph, "split[a][b];[a]palettegen[p];[b][p]paletteuse=dither=none", &inputs,
                                 &outputs, nullptr) < 0 ||
        avfilter_graph_config(graph, nullptr) < 0)
        throw std::runtime_error("ffmpeg: graph");
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);

    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = static_cast<int>(picture.Width);
    frame->height = static_cast<int>(picture.Height);
    frame->pts = 0;
    av_frame_get_buffer(frame, 0);
    for (uint32_t y = 0; y < picture.Height; ++y)
        std::copy_n(picture.Rgb.data() + size_t{y} * picture.Width * 3, size_t{picture.Width} * 3,
                    frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0]);
    if (av_buffersrc_add_frame(source, frame) < 0 || av_buffersrc_add_frame(source, nullptr) < 0)
        throw std::runtime_error("ffmpeg: input"); // the second: end of stream, palettegen gives its palette
    AVFrame* indexed = av_frame_alloc();
    if (av_buffersink_get_frame(sink, indexed) < 0)
        throw std::runtime_error("ffmpeg: no frame");

    AVFormatContext* format = nullptr;
    avformat_alloc_output_context2(&format, nullptr, "gif", nullptr);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_GIF);
    AVCodecContext* encoder = avcodec_alloc_context3(codec);
    encoder->width = indexed->width;
    encoder->height = indexed->height;
    encoder->pix_fmt = static_cast<AVPixelFormat>(indexed->format);
    encoder->time_base = {1, 25};
    if (avcodec_open2(encoder, codec, nullptr) < 0)
        throw std::runtime_error("ffmpeg: encoder");
    AVStream* stream = avformat_new_stream(format, nullptr);
    avcodec_parameters_from_context(stream->codecpar, encoder);
    stream->time_base = encoder->time_base;
    avio_open_dyn_buf(&format->pb);
    if (avformat_write_header(format, nullptr) < 0)
        throw std::runtime_error("ffmpeg: header");
    AVPacket* packet = av_packet_alloc();
    avcodec_send_frame(encoder, indexed);
    avcodec_send_frame(encoder, nullptr);
    while (avcodec_receive_packet(encoder, packet) == 0) {
        packet->stream_index = 0;
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        av_write_frame(format, packet);
        av_packet_unref(packet);
    }
    av_write_trailer(format);
    uint8_t* buffer = nullptr;
    const int length = avio_close_dyn_buf(format->pb, &buffer);
    format->pb = nullptr;
    TBytes gif(buffer, buffer + length);
    av_free(buffer);
    av_packet_free(&packet);
    avcodec_free_context(&encoder);
    avformat_free_context(format);
    av_frame_free(&indexed);
    av_frame_free(&frame);
    avfilter_graph_free(&graph);
    return gif;
}

double ProcessCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct TTool {
    const char* Name;
    std::function<TBytes(const TPicture&)> Encode;
};

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    uint32_t colors = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--colors" && i + 1 < argc)
            colors = static_cast<uint32_t>(std::clamp(std::atoi(argv[++i]), 2, 256));
        else
            files.push_back(arg);
    }
    MagickWandGenesis();
    av_log_set_level(AV_LOG_ERROR);
    const std::string sweepName = "ours" + std::to_string(colors);
    std::vector<TTool> tools = {{"ours", [](const TPicture& p) { return Ours(p); }},
                                {"im", ImageMagick},
                                {"ffmpeg", Ffmpeg},
                                {"liq", ImageQuant}};
    if (colors != 0)
        tools = {{sweepName.c_str(), [colors](const TPicture& p) { return Ours(p, colors); }}};
    int status = 0;
    for (const std::string& path : files) {
        try {
            const TPicture picture = ReadPpm(path);
            for (const TTool& tool : tools) {
                TBytes gif = tool.Encode(picture); // warm-up
                std::vector<double> times;
                const double cpuStart = ProcessCpuMilliseconds();
                for (int run = 0; run < runs; ++run) {
                    const auto start = std::chrono::steady_clock::now();
                    gif = tool.Encode(picture);
                    times.push_back(
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
                }
                const double cpu = (ProcessCpuMilliseconds() - cpuStart) / runs;
                std::sort(times.begin(), times.end());
                const std::string out = path.substr(0, path.rfind('.')) + "." + tool.Name + ".gif";
                std::ofstream(out, std::ios::binary)
                    .write(reinterpret_cast<const char*>(gif.data()), static_cast<std::streamsize>(gif.size()));
                std::printf("RESULT %s %s %u %u %.1f %.1f %zu %.1f\n", path.c_str(), tool.Name, picture.Width,
                            picture.Height, times.front(), times[times.size() / 2], gif.size(), cpu);
                std::fflush(stdout);
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "AnchorBench: %s: %s\n", path.c_str(), error.what());
            status = 1;
        }
    }
    MagickWandTerminus();
    return status;
}
