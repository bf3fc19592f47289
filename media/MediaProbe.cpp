#include "MediaProbe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace moravel {

namespace {

constexpr int kIoBufferBytes = 64 * 1024;
// What a look at the start reads to find the container and its streams.
constexpr std::int64_t kProbeBytes = 2 * 1024 * 1024;
// The containers that recordings come in: MPEG transport streams (DVB recorders;
// 188-, 192- and 204-byte packets alike) and MPEG program streams (DVD-style
// recorders). No other reads a recording's bytes: some open inputs of their own
// (SDP text has RTP read from UDP ports, playlists fetch their parts), and the
// picture formats decode whatever size a file declares.
constexpr char kRecordingFormats[] = "mpegts,mpeg";
constexpr std::int64_t kMostPicturePixels = std::int64_t{kMostPictureWidth} * kMostPictureHeight;
// The largest block the libraries may allocate at once: a plane of the largest
// picture at 16 bits a sample, or its RGB copy for a PNG, with room to spare. A
// stream that declares a larger picture to a decoder not asked about its size
// (one that a look at the streams opens by itself) gets no memory for it.
constexpr std::size_t kMostBytesAllocated = 64 * 1024 * 1024;
// Frames decoded in search of one that stands on its own, after a jump into the
// stream: broadcast repeats a key frame at least every few seconds (under 300
// frames at 50 a second), so this ends a search through a stream without any
// within a bound time.
constexpr int kMostFramesSearched = 500;
// Reads that find no packet, one after another, before a look gives up: each
// passes over a stretch (64 KiB in a transport stream), so this is more than a
// budget holds.
constexpr int kMaxReadFailures = 1024;
// How far past the chosen place a picture is looked for.
constexpr std::uint64_t kFrameSearchBytes = 8 * 1024 * 1024;
// Where the streams are looked for when the start of a recording cannot be read
// or shows none (bad sectors where a recording begins, or a start overwritten):
// shares of its bytes, each tried once, so that a damaged start costs a bound
// number of looks, each ending at its first failed read.
constexpr std::array<double, kProbeLaterPlaces> kLaterStarts = {0.01, 0.02, 0.05, 0.1,
                                                                0.2,  0.35, 0.5,  0.75};

struct CodecFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

// A demuxer that opens an input of its own (another file, a network address)
// gets none: everything a look reads comes from the source.
int RefuseNestedInput(AVFormatContext* /*format*/, AVIOContext** /*pb*/, const char* /*url*/,
                      int /*flags*/, AVDictionary** /*options*/) {
    return AVERROR(EPERM);
}

bool IsRecordingFormat(const AVInputFormat& format) {
    return av_match_list(format.name, kRecordingFormats, ',') > 0;
}

std::string FormatName(const AVInputFormat& format) {
    return format.long_name != nullptr ? format.long_name : format.name;
}

// "4096x2304": the largest picture decoded, as the messages name it.
std::string MostPictureText() {
    return std::to_string(kMostPictureWidth) + "x" + std::to_string(kMostPictureHeight);
}

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The source from `origin` on as FFmpeg's input, within a budget of bytes: past
// it a read ends as at the end of the file, so that a look into a damaged or
// endless stream ends.
struct SourceIo {
    MediaSource& source;
    std::uint64_t origin = 0;    // where the input's first byte lies in the source
    std::uint64_t position = 0;  // from origin
    std::uint64_t bytesRead = 0;
    std::uint64_t budget = 0;
    std::string failure;         // why the source could not be read, when it could not
    std::uint64_t failedAt = 0;  // where in the source, when it could not

    std::uint64_t Size() const {
        const std::uint64_t total = source.Size();
        return total > origin ? total - origin : 0;
    }
};

int ReadSource(void* opaque, std::uint8_t* buffer, int size) {
    auto& io = *static_cast<SourceIo*>(opaque);
    // The libraries ask again after a failed read; a drive would spend seconds
    // on each ask. The next place (SeekBytes) asks afresh.
    if (!io.failure.empty()) {
        return AVERROR(EIO);
    }
    const std::uint64_t total = io.Size();
    if (size <= 0 || io.bytesRead >= io.budget || io.position >= total) {
        return AVERROR_EOF;
    }
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(
        {static_cast<std::uint64_t>(size), io.budget - io.bytesRead, total - io.position}));
    const Result<std::size_t> got = io.source.ReadAt(io.origin + io.position, {buffer, wanted});
    if (!got) {
        io.failure = got.error().reason;
        io.failedAt = io.origin + io.position;
        return AVERROR(EIO);
    }
    if (*got == 0) {
        return AVERROR_EOF;
    }
    io.position += *got;
    io.bytesRead += *got;
    return static_cast<int>(*got);
}

std::int64_t SeekSource(void* opaque, std::int64_t offset, int whence) {
    auto& io = *static_cast<SourceIo*>(opaque);
    const auto size = static_cast<std::int64_t>(std::min<std::uint64_t>(io.Size(), LLONG_MAX));
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) {
        return size;
    }
    std::int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<std::int64_t>(io.position);
    } else if (whence == SEEK_END) {
        base = size;
    } else if (whence != SEEK_SET) {
        return AVERROR(EINVAL);
    }
    if ((offset > 0 && base > LLONG_MAX - offset) || base + offset < 0) {
        return AVERROR(EINVAL);
    }
    io.position = static_cast<std::uint64_t>(base + offset);
    return base + offset;
}

// FFmpeg's demuxer over the source from origin on, with its streams found there.
class Demuxer {
public:
    Demuxer(MediaSource& source, std::uint64_t origin, std::uint64_t budget)
        : m_io{source, origin, 0, 0, budget, {}, 0} {}
    ~Demuxer() {
        if (m_format != nullptr) {
            avformat_close_input(&m_format);
        }
        if (m_context != nullptr) {
            av_freep(&m_context->buffer);
            avio_context_free(&m_context);
        }
    }
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;

    Failure Open();
    // After a failed Open: whether the streams may lie further on (the bytes
    // could not be read, or showed no stream), rather than the bytes being
    // something else or memory being short.
    bool MayLieFurther() const { return !m_refused; }
    AVFormatContext& Format() const { return *m_format; }
    SourceIo& Io() { return m_io; }
    // Goes to the byte position, with up to `bytes` more to read from there.
    void SeekBytes(std::uint64_t position, std::uint64_t bytes);
    // Why FFmpeg said code: the source's own reason, when a read failed.
    std::string Why(int code) const;

private:
    // The container, found among those recordings come in.
    Failure OpenContainer();
    // Its streams, from what the look at the start finds.
    Failure FindStreams();

    SourceIo m_io;
    AVIOContext* m_context = nullptr;
    AVFormatContext* m_format = nullptr;
    bool m_refused = false;
};

std::string Demuxer::Why(int code) const {
    if (!m_io.failure.empty()) {
        return m_io.failure;
    }
    return "no stream that the libraries know (" + AvErrorText(code) + ")";
}

Failure Demuxer::Open() {
    // The libraries' own messages would go to the terminal; the core never prints.
    av_log_set_level(AV_LOG_QUIET);
    av_max_alloc(kMostBytesAllocated);
    m_refused = true;  // until the container is looked for
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
    if (buffer == nullptr) {
        return Error{"not enough memory to read it"};
    }
    m_context =
        avio_alloc_context(buffer, kIoBufferBytes, 0, &m_io, ReadSource, nullptr, SeekSource);
    m_format = m_context != nullptr ? avformat_alloc_context() : nullptr;
    if (m_format == nullptr) {
        if (m_context == nullptr) {
            av_free(buffer);
        }
        return Error{"not enough memory to read it"};
    }
    m_format->pb = m_context;
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    m_format->probesize = kProbeBytes;
    m_format->max_analyze_duration = 5 * AV_TIME_BASE;
    m_format->io_open = RefuseNestedInput;
    m_refused = false;
    if (Failure failure = OpenContainer()) {
        return failure;
    }
    return FindStreams();
}

Failure Demuxer::OpenContainer() {
    const AVInputFormat* container = nullptr;
    const int score = av_probe_input_buffer2(m_context, &container, "", nullptr, 0, kProbeBytes);
    if (score < 0) {
        return Error{Why(score)};
    }
    // A raw format may claim a few hundred KB of anything with a weak score
    // (noise as raw H.263, text as lyrics); a container is sure of itself.
    if (score <= AVPROBE_SCORE_MAX / 4) {
        return Error{"no stream that the libraries know (it looks only a little like " +
                     FormatName(*container) + ")"};
    }
    if (!IsRecordingFormat(*container)) {
        m_refused = true;
        return Error{"no stream that the libraries know (it looks like " + FormatName(*container) +
                     ", not an MPEG transport or program stream)"};
    }
    // The same bounds for the libraries themselves: no other container, and no
    // protocol at all for an input opened by name.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kRecordingFormats, 0);
    av_dict_set(&options, "protocol_whitelist", "", 0);
    const int result = avformat_open_input(&m_format, nullptr, container, &options);
    av_dict_free(&options);
    if (result < 0) {
        m_format = nullptr;  // freed by the call
        return Error{Why(result)};
    }
    return std::nullopt;
}

Failure Demuxer::FindStreams() {
    // The decoders that a look at the streams opens decode on this thread, and
    // no picture larger than any broadcast carries.
    std::vector<AVDictionary*> options(m_format->nb_streams, nullptr);
    for (AVDictionary*& stream : options) {
        av_dict_set(&stream, "threads", "1", 0);
        av_dict_set_int(&stream, "max_pixels", kMostPicturePixels, 0);
    }
    const int result = avformat_find_stream_info(m_format, options.data());
    for (AVDictionary*& stream : options) {
        av_dict_free(&stream);
    }
    if (result < 0) {
        return Error{Why(result)};
    }
    // A stream in a container has a picture size or a sample rate.
    const auto streams = std::span(m_format->streams, m_format->nb_streams);
    if (std::none_of(streams.begin(), streams.end(), [](const AVStream* stream) {
            const AVCodecParameters& codec = *stream->codecpar;
            return (codec.codec_type == AVMEDIA_TYPE_VIDEO && codec.width > 0 &&
                    codec.height > 0) ||
                   (codec.codec_type == AVMEDIA_TYPE_AUDIO && codec.sample_rate > 0);
        })) {
        return Error{
            "no stream that the libraries know (no sound in it, and no picture of at most " +
            MostPictureText() + ")"};
    }
    return std::nullopt;
}

void Demuxer::SeekBytes(std::uint64_t position, std::uint64_t bytes) {
    // A place that could not be read says nothing of the next one.
    m_io.failure.clear();
    m_context->error = 0;
    m_io.budget = m_io.bytesRead + bytes + kIoBufferBytes;
    avio_seek(m_format->pb, static_cast<std::int64_t>(position), SEEK_SET);
    avformat_flush(m_format);
}

double Seconds(std::int64_t timestamp, AVRational timeBase) {
    return static_cast<double>(timestamp) * av_q2d(timeBase);
}

void DescribeStreams(const AVFormatContext& format, MediaInfo& info) {
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream& stream = *format.streams[i];
        const AVCodecParameters& codec = *stream.codecpar;
        if (codec.codec_type == AVMEDIA_TYPE_VIDEO && !info.video) {
            MediaInfo::Video video;
            video.codec = avcodec_get_name(codec.codec_id);
            video.width = codec.width;
            video.height = codec.height;
            const AVRational rate =
                stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
            video.frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
            info.video = video;
        } else if (codec.codec_type == AVMEDIA_TYPE_AUDIO) {
            MediaInfo::Audio audio;
            audio.codec = avcodec_get_name(codec.codec_id);
            audio.channels = codec.ch_layout.nb_channels;
            audio.sampleRate = codec.sample_rate;
            if (const AVDictionaryEntry* language =
                    av_dict_get(stream.metadata, "language", nullptr, 0)) {
                audio.language = language->value;
            }
            info.audio.push_back(audio);
        }
        if (stream.start_time != AV_NOPTS_VALUE) {
            const double first = Seconds(stream.start_time, stream.time_base);
            info.firstSeconds = std::min(info.firstSeconds.value_or(first), first);
        }
    }
}

// The next packet, past stretches where the demuxer finds no stream (a damaged
// part, bytes of something else: it gives up on each after a while, and is asked
// again); false at the end, or once the budget or the source gives out.
bool NextPacket(Demuxer& demuxer, AVPacket& packet) {
    for (int failures = 0; failures < kMaxReadFailures; ++failures) {
        const int result = av_read_frame(&demuxer.Format(), &packet);
        if (result >= 0) {
            return true;
        }
        if (result == AVERROR_EOF || !demuxer.Io().failure.empty() ||
            demuxer.Io().bytesRead >= demuxer.Io().budget) {
            return false;
        }
    }
    return false;
}

// The end of the last packet among the recording's last bytes, in seconds.
std::optional<double> LastTimestamp(Demuxer& demuxer) {
    AVFormatContext& format = demuxer.Format();
    const std::uint64_t size = demuxer.Io().Size();
    demuxer.SeekBytes(size > kProbeTailBytes ? size - kProbeTailBytes : 0, kProbeTailBytes);
    const Packet packet(av_packet_alloc());
    std::optional<double> last;
    while (packet && NextPacket(demuxer, *packet)) {
        const AVStream& stream = *format.streams[packet->stream_index];
        std::int64_t timestamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (timestamp != AV_NOPTS_VALUE) {
            // A clock that wrapped around since the first timestamp (33 bits of
            // 90 kHz in MPEG streams: every 26.5 hours).
            if (stream.start_time != AV_NOPTS_VALUE && timestamp < stream.start_time &&
                stream.pts_wrap_bits > 0 && stream.pts_wrap_bits < 63) {
                timestamp += std::int64_t{1} << stream.pts_wrap_bits;
            }
            const double end =
                Seconds(timestamp + std::max<std::int64_t>(packet->duration, 0), stream.time_base);
            last = std::max(last.value_or(end), end);
        }
        av_packet_unref(packet.get());
    }
    return last;
}

Result<CodecContext> OpenDecoder(const AVStream& stream) {
    const AVCodecParameters& parameters = *stream.codecpar;
    if (parameters.width > kMostPictureWidth || parameters.height > kMostPictureHeight) {
        return Error{"its picture is " + std::to_string(parameters.width) + "x" +
                     std::to_string(parameters.height) +
                     ", larger than any that broadcast carries (at most " + MostPictureText() +
                     ")"};
    }
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (codec == nullptr) {
        return Error{std::string("no decoder for its video (") +
                     avcodec_get_name(stream.codecpar->codec_id) + ")"};
    }
    CodecContext context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), stream.codecpar) < 0) {
        return Error{"not enough memory to decode it"};
    }
    // One thread: a picture is decoded within the time one core takes for it.
    context->thread_count = 1;
    // A stream may change its picture size after its start.
    context->max_pixels = kMostPicturePixels;
    if (const int result = avcodec_open2(context.get(), codec, nullptr); result < 0) {
        return Error{"its video cannot be decoded (" + AvErrorText(result) + ")"};
    }
    return context;
}

Result<VideoFrame> ToRgb(const AVFrame& frame, const AVStream& stream) {
    if (frame.width <= 0 || frame.height <= 0) {
        return Error{"its picture has no size"};
    }
    const std::unique_ptr<SwsContext, ScaleFree> scale(sws_getContext(
        frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
        frame.height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scale) {
        return Error{"its picture cannot be converted"};
    }
    VideoFrame picture;
    picture.width = frame.width;
    picture.height = frame.height;
    picture.rgb.resize(static_cast<std::size_t>(frame.width) *
                       static_cast<std::size_t>(frame.height) * 3);
    std::uint8_t* rows[1] = {picture.rgb.data()};
    const int stride[1] = {frame.width * 3};
    sws_scale(scale.get(), frame.data, frame.linesize, 0, frame.height, rows, stride);
    if (frame.best_effort_timestamp != AV_NOPTS_VALUE) {
        const std::int64_t start = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
        picture.seconds = Seconds(frame.best_effort_timestamp - start, stream.time_base);
    }
    return picture;
}

// The first picture of the video stream that stands on its own (a key frame)
// from the demuxer's place on: what comes before one, after a jump into the
// stream, refers to pictures never seen.
Result<VideoFrame> FirstKeyFrame(Demuxer& demuxer, AVCodecContext& decoder, int video) {
    const AVStream& stream = *demuxer.Format().streams[video];
    const Packet packet(av_packet_alloc());
    const Frame frame(av_frame_alloc());
    if (!packet || !frame) {
        return Error{"not enough memory to decode it"};
    }
    int searched = 0;
    bool ended = false;
    while (!ended) {
        ended = !NextPacket(demuxer, *packet);
        if (!ended && packet->stream_index != video) {
            av_packet_unref(packet.get());
            continue;
        }
        if (!ended && ++searched > kMostFramesSearched) {
            av_packet_unref(packet.get());
            return Error{"no picture that stands on its own in the " +
                         std::to_string(kMostFramesSearched) + " frames from there"};
        }
        avcodec_send_packet(&decoder, ended ? nullptr : packet.get());
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(&decoder, frame.get()) == 0) {
            if (frame->key_frame != 0) {
                return ToRgb(*frame, stream);
            }
        }
    }
    if (!demuxer.Io().failure.empty()) {
        return Error{demuxer.Io().failure};
    }
    return Error{"no picture decodes there"};
}

// A recording opened through FFmpeg's demuxer, with the video's decoder once a
// picture was asked for.
class DemuxedFile final : public MediaFile {
public:
    explicit DemuxedFile(MediaSource& source) : m_source(source) {}
    // The streams from the start, or else from the first later place that
    // shows them; the failure is the start's.
    Failure Open();
    Result<MediaInfo> Describe() override;
    Result<VideoFrame> FrameAt(double fraction) override;

private:
    MediaSource& m_source;
    std::unique_ptr<Demuxer> m_demuxer;
    std::string m_startFailure;        // why the start gave no streams, when it did not
    std::uint64_t m_earlierBytes = 0;  // read by the looks that found no streams
    int m_video = -1;                  // the video stream's index, once its decoder is open
    CodecContext m_decoder;            // kept from one picture to the next
};

Failure DemuxedFile::Open() {
    auto demuxer = std::make_unique<Demuxer>(m_source, 0, kProbeHeadBytes);
    const Failure atStart = demuxer->Open();
    if (!atStart || !demuxer->MayLieFurther()) {
        m_demuxer = std::move(demuxer);
        return atStart;
    }
    m_earlierBytes = demuxer->Io().bytesRead;
    // A place before the last failed read would only read up to it again.
    std::uint64_t failedAt = demuxer->Io().failure.empty() ? 0 : demuxer->Io().failedAt;
    const std::uint64_t size = m_source.Size();
    for (const double share : kLaterStarts) {
        const auto origin = static_cast<std::uint64_t>(share * static_cast<double>(size));
        if (origin == 0 || origin <= failedAt) {
            continue;
        }
        demuxer = std::make_unique<Demuxer>(m_source, origin, kProbeHeadBytes);
        if (!demuxer->Open()) {
            m_demuxer = std::move(demuxer);
            m_startFailure = atStart->reason;
            return std::nullopt;
        }
        m_earlierBytes += demuxer->Io().bytesRead;
        if (!demuxer->MayLieFurther()) {
            break;
        }
        failedAt = demuxer->Io().failure.empty() ? failedAt : demuxer->Io().failedAt;
    }
    return atStart;
}

}  // namespace

Result<std::unique_ptr<MediaFile>> MediaFile::Open(MediaSource& source) {
    auto file = std::make_unique<DemuxedFile>(source);
    if (Failure failure = file->Open()) {
        return *failure;
    }
    return std::unique_ptr<MediaFile>(std::move(file));
}

Result<MediaInfo> DemuxedFile::Describe() {
    Demuxer& demuxer = *m_demuxer;
    MediaInfo info;
    const AVFormatContext& format = demuxer.Format();
    info.container = format.iformat->name;
    info.containerName =
        format.iformat->long_name != nullptr ? format.iformat->long_name : format.iformat->name;
    DescribeStreams(format, info);
    info.lastSeconds = LastTimestamp(demuxer);
    if (!demuxer.Io().failure.empty()) {
        return Error{"its end could not be read: " + demuxer.Io().failure};
    }
    if (info.firstSeconds && info.lastSeconds && *info.lastSeconds >= *info.firstSeconds) {
        info.durationSeconds = *info.lastSeconds - *info.firstSeconds;
    }
    info.streamsFrom = demuxer.Io().origin;
    info.startFailure = m_startFailure;
    info.bytesRead = m_earlierBytes + demuxer.Io().bytesRead;
    return info;
}

Result<VideoFrame> DemuxedFile::FrameAt(double fraction) {
    Demuxer& demuxer = *m_demuxer;
    AVFormatContext& format = demuxer.Format();
    if (m_decoder) {
        avcodec_flush_buffers(m_decoder.get());
    } else {
        const int index = av_find_best_stream(&format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index < 0) {
            return Error{"it holds no video"};
        }
        Result<CodecContext> decoder = OpenDecoder(*format.streams[index]);
        if (!decoder) {
            return decoder.error();
        }
        m_video = index;
        m_decoder = std::move(*decoder);
    }
    const double place = std::clamp(fraction, 0.0, 1.0);
    const std::uint64_t size = demuxer.Io().Size();
    demuxer.SeekBytes(static_cast<std::uint64_t>(place * static_cast<double>(size)),
                      kFrameSearchBytes);
    return FirstKeyFrame(demuxer, *m_decoder, m_video);
}

Result<MediaInfo> ProbeMedia(MediaSource& source) {
    Result<std::unique_ptr<MediaFile>> file = MediaFile::Open(source);
    if (!file) {
        return file.error();
    }
    return (*file)->Describe();
}

Result<VideoFrame> DecodeFrameAt(MediaSource& source, double fraction) {
    Result<std::unique_ptr<MediaFile>> file = MediaFile::Open(source);
    if (!file) {
        return file.error();
    }
    return (*file)->FrameAt(fraction);
}

Result<std::vector<std::uint8_t>> EncodePng(const VideoFrame& picture) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    CodecContext context(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    if (!context) {
        return Error{"the libraries have no PNG encoder"};
    }
    context->width = picture.width;
    context->height = picture.height;
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = {1, 25};
    const Frame frame(av_frame_alloc());
    const Packet packet(av_packet_alloc());
    if (avcodec_open2(context.get(), codec, nullptr) < 0 || !frame || !packet) {
        return Error{"the PNG encoder could not be opened"};
    }
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = picture.width;
    frame->height = picture.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return Error{"not enough memory for the picture"};
    }
    const auto rowBytes = static_cast<std::size_t>(picture.width) * 3;
    for (int row = 0; row < picture.height; ++row) {
        std::memcpy(frame->data[0] + static_cast<std::ptrdiff_t>(row) * frame->linesize[0],
                    picture.rgb.data() + static_cast<std::size_t>(row) * rowBytes, rowBytes);
    }
    if (avcodec_send_frame(context.get(), frame.get()) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0) {
        return Error{"the picture could not be encoded as PNG"};
    }
    return std::vector<std::uint8_t>(packet->data, packet->data + packet->size);
}

}  // namespace moravel
