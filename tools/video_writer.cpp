#include "tools/video_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <filesystem>

struct VideoFile {
  std::string path, temporaryPath;
  AVFormatContext* format = nullptr;
  AVCodecContext* picture = nullptr;
  AVCodecContext* sound = nullptr;
  AVStream* pictureStream = nullptr;
  AVStream* soundStream = nullptr;
  SwsContext* scaler = nullptr;
  SwrContext* resampler = nullptr;
  AVAudioFifo* fifo = nullptr;  // converted samples waiting for a whole encoder frame
  AVFrame* pictureFrame = nullptr;
  AVFrame* soundFrame = nullptr;
  AVPacket* packet = nullptr;
  PixelSize size;
  int fps = 0;
  int soundBitRate = 0;
  bool fileCreated = false;
  int64_t nextPicture = 0;  // in frames
  int64_t nextSound = 0;    // in samples
};

namespace {

// The encoders and their settings per container: constant quality, as --clip makes its clips
// (H.264 at CRF 23, VP9 at CRF 33 with no bit rate target), at the encoders' fast settings
// (x264's "veryfast" preset, libvpx's realtime deadline at speed 8 with a thread per row of
// tiles): drawing on llvmpipe takes every core, and these keep the encoding under a tenth of the
// drawing's CPU time at 1920x1080 (x264 "fast" took 14 %, libvpx's "good" deadline 55 %).
struct Codecs {
  const char* extension;
  const char* container;
  const char* picture;
  const char* sound;
  int soundBitRate;
  int largestCrf;
  const char* pictureOptions;  // key=value:key=value, given to the picture encoder
};

constexpr Codecs codecTable[] = {
    {".mp4", "mp4", "libx264", "aac", 192000, 51, "b=0:preset=veryfast:crf=23"},
    {".webm", "webm", "libvpx-vp9", "libopus", 128000, 63,
     "b=0:crf=33:deadline=realtime:cpu-used=8:row-mt=1"},
};

const Codecs* CodecsFor(const std::string& path) {
  const std::string extension = std::filesystem::path(path).extension().string();
  for (const Codecs& codecs : codecTable) {
    if (extension == codecs.extension) return &codecs;
  }
  return nullptr;
}

bool Fail(std::string& error, const std::string& what, int code) {
  char reason[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, reason, sizeof reason);
  error = what + ": " + reason;
  return false;
}

void Free(VideoFile* video) {
  if (video->format) {
    if (video->format->pb) avio_closep(&video->format->pb);
    avformat_free_context(video->format);
  }
  avcodec_free_context(&video->picture);
  avcodec_free_context(&video->sound);
  sws_freeContext(video->scaler);
  swr_free(&video->resampler);
  if (video->fifo) av_audio_fifo_free(video->fifo);
  av_frame_free(&video->pictureFrame);
  av_frame_free(&video->soundFrame);
  av_packet_free(&video->packet);
  delete video;
}

bool OpenEncoder(VideoFile* video, AVCodecContext*& context, const char* name, AVStream*& stream,
                 AVDictionary** options, std::string& error,
                 void (*configure)(VideoFile*, AVCodecContext*, const AVCodec*)) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (!codec) return Fail(error, std::string("No ") + name + " encoder", AVERROR_ENCODER_NOT_FOUND);
  context = avcodec_alloc_context3(codec);
  if (!context) return Fail(error, "Cannot allocate the encoder", AVERROR(ENOMEM));
  configure(video, context, codec);
  if (video->format->oformat->flags & AVFMT_GLOBALHEADER)
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (const int code = avcodec_open2(context, codec, options); code < 0)
    return Fail(error, std::string("Cannot open the ") + name + " encoder", code);
  stream = avformat_new_stream(video->format, nullptr);
  if (!stream) return Fail(error, "Cannot add a stream", AVERROR(ENOMEM));
  stream->time_base = context->time_base;
  if (const int code = avcodec_parameters_from_context(stream->codecpar, context); code < 0)
    return Fail(error, "Cannot describe the stream", code);
  return true;
}

void ConfigurePicture(VideoFile* video, AVCodecContext* context, const AVCodec*) {
  context->width = video->size.width;
  context->height = video->size.height;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = {1, video->fps};
  context->framerate = {video->fps, 1};
  context->gop_size = 2 * video->fps;  // a key frame every two seconds, for seeking
  // BT.709 in limited range, stated in the stream, so that players convert back as it was made.
  context->colorspace = AVCOL_SPC_BT709;
  context->color_primaries = AVCOL_PRI_BT709;
  context->color_trc = AVCOL_TRC_BT709;
  context->color_range = AVCOL_RANGE_MPEG;
  context->thread_count = 0;  // as many as the encoder likes
}

void ConfigureSound(VideoFile* video, AVCodecContext* context, const AVCodec* codec) {
  const void* formats = nullptr;
  int count = 0;
  avcodec_get_supported_config(context, codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats, &count);
  context->sample_fmt =
      count > 0 ? static_cast<const AVSampleFormat*>(formats)[0] : AV_SAMPLE_FMT_FLTP;
  context->sample_rate = videoSampleRate;
  context->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
  context->time_base = {1, videoSampleRate};
  context->bit_rate = video->soundBitRate;
}

// Sends `frame` (null: the end) to `context` and writes every packet it gives back.
bool Encode(VideoFile* video, AVCodecContext* context, AVStream* stream, AVFrame* frame,
            std::string& error) {
  if (const int code = avcodec_send_frame(context, frame); code < 0)
    return Fail(error, "Encoding failed", code);
  while (true) {
    const int code = avcodec_receive_packet(context, video->packet);
    if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
    if (code < 0) return Fail(error, "Encoding failed", code);
    av_packet_rescale_ts(video->packet, context->time_base, stream->time_base);
    video->packet->stream_index = stream->index;
    if (const int written = av_interleaved_write_frame(video->format, video->packet); written < 0)
      return Fail(error, "Writing " + video->temporaryPath + " failed", written);
  }
}

// Encodes whole encoder frames from the FIFO; at the end also the rest, padded with silence.
bool EncodeSound(VideoFile* video, bool end, std::string& error) {
  const int frameSize = video->sound->frame_size > 0 ? video->sound->frame_size : 1024;
  while (av_audio_fifo_size(video->fifo) >= frameSize ||
         (end && av_audio_fifo_size(video->fifo) > 0)) {
    AVFrame* frame = video->soundFrame;
    if (const int code = av_frame_make_writable(frame); code < 0)
      return Fail(error, "Cannot write a sound frame", code);
    const int got =
        av_audio_fifo_read(video->fifo, reinterpret_cast<void**>(frame->data), frameSize);
    // A short last frame where the encoder takes one, else silence after the end.
    if (got < frameSize && (video->sound->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
      frame->nb_samples = got;
    } else if (got < frameSize) {
      av_samples_set_silence(frame->data, got, frameSize - got, videoChannels,
                             video->sound->sample_fmt);
    }
    frame->pts = video->nextSound;
    video->nextSound += frame->nb_samples;
    if (!Encode(video, video->sound, video->soundStream, frame, error)) return false;
  }
  return true;
}

}  // namespace

bool IsVideoPath(const std::string& path) {
  return CodecsFor(path) != nullptr;
}

int LargestVideoCrf(const std::string& path) {
  const Codecs* codecs = CodecsFor(path);
  return codecs ? codecs->largestCrf : 0;
}

std::string TemporaryVideoPath(const std::string& path) {
  return path + ".part";
}

VideoFile* OpenVideo(const std::string& path, PixelSize size, int fps, int crf,
                     std::string& error) {
  av_log_set_level(AV_LOG_ERROR);
  const Codecs* codecs = CodecsFor(path);
  if (!codecs) {
    error = path + ": not a video file name (.mp4 or .webm)";
    return nullptr;
  }
  auto* video = new VideoFile;
  video->path = path;
  video->temporaryPath = TemporaryVideoPath(path);
  video->size = size;
  video->fps = fps;
  video->soundBitRate = codecs->soundBitRate;
  const auto failed = [&] {
    Free(video);
    return nullptr;
  };
  int code = avformat_alloc_output_context2(&video->format, nullptr, codecs->container,
                                            video->temporaryPath.c_str());
  if (code < 0) return Fail(error, "Cannot make the container", code), failed();

  AVDictionary* options = nullptr;
  av_dict_parse_string(&options, codecs->pictureOptions, "=", ":", 0);
  if (crf >= 0) av_dict_set_int(&options, "crf", crf, 0);
  const bool ok = OpenEncoder(video, video->picture, codecs->picture, video->pictureStream,
                              &options, error, ConfigurePicture);
  av_dict_free(&options);
  if (!ok) return failed();
  video->pictureStream->avg_frame_rate = {fps, 1};
  if (!OpenEncoder(video, video->sound, codecs->sound, video->soundStream, nullptr, error,
                   ConfigureSound)) {
    return failed();
  }

  video->scaler =
      sws_getContext(size.width, size.height, AV_PIX_FMT_RGB24, size.width, size.height,
                     AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  if (!video->scaler)
    return Fail(error, "Cannot make the colour converter", AVERROR(EINVAL)), failed();
  sws_setColorspaceDetails(video->scaler, sws_getCoefficients(SWS_CS_ITU709), 1,
                           sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  code = swr_alloc_set_opts2(&video->resampler, &stereo, video->sound->sample_fmt, videoSampleRate,
                             &stereo, AV_SAMPLE_FMT_FLT, videoSampleRate, 0, nullptr);
  if (code >= 0) code = swr_init(video->resampler);
  if (code < 0) return Fail(error, "Cannot make the sample converter", code), failed();
  video->fifo = av_audio_fifo_alloc(video->sound->sample_fmt, videoChannels, videoSampleRate);

  video->pictureFrame = av_frame_alloc();
  video->soundFrame = av_frame_alloc();
  video->packet = av_packet_alloc();
  if (!video->fifo || !video->pictureFrame || !video->soundFrame || !video->packet)
    return Fail(error, "Out of memory", AVERROR(ENOMEM)), failed();
  video->pictureFrame->format = AV_PIX_FMT_YUV420P;
  video->pictureFrame->width = size.width;
  video->pictureFrame->height = size.height;
  video->pictureFrame->colorspace = AVCOL_SPC_BT709;
  video->pictureFrame->color_primaries = AVCOL_PRI_BT709;
  video->pictureFrame->color_trc = AVCOL_TRC_BT709;
  video->pictureFrame->color_range = AVCOL_RANGE_MPEG;
  video->soundFrame->format = video->sound->sample_fmt;
  video->soundFrame->sample_rate = videoSampleRate;
  video->soundFrame->ch_layout = stereo;
  video->soundFrame->nb_samples = video->sound->frame_size > 0 ? video->sound->frame_size : 1024;
  if ((code = av_frame_get_buffer(video->pictureFrame, 0)) < 0 ||
      (code = av_frame_get_buffer(video->soundFrame, 0)) < 0) {
    return Fail(error, "Cannot allocate frames", code), failed();
  }

  if ((code = avio_open(&video->format->pb, video->temporaryPath.c_str(), AVIO_FLAG_WRITE)) < 0)
    return Fail(error, "Cannot write " + video->temporaryPath, code), failed();
  video->fileCreated = true;
  AVDictionary* muxerOptions = nullptr;
  // The index first, so that a browser starts playing before the whole file has arrived.
  if (codecs->container == std::string("mp4"))
    av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
  code = avformat_write_header(video->format, &muxerOptions);
  av_dict_free(&muxerOptions);
  if (code < 0) {
    Fail(error, "Cannot start " + video->temporaryPath, code);
    AbandonVideo(video);
    return nullptr;
  }
  return video;
}

bool WriteVideoFrame(VideoFile* video, const unsigned char* bottomUpRgb, std::string& error) {
  AVFrame* frame = video->pictureFrame;
  if (const int code = av_frame_make_writable(frame); code < 0)
    return Fail(error, "Cannot write a picture frame", code);
  // The rows are read from the last to the first, which turns GL's bottom-up picture upright.
  const int stride = video->size.width * 3;
  const uint8_t* source[1] = {bottomUpRgb +
                              static_cast<std::size_t>(stride) * (video->size.height - 1)};
  const int sourceStride[1] = {-stride};
  sws_scale(video->scaler, source, sourceStride, 0, video->size.height, frame->data,
            frame->linesize);
  frame->pts = video->nextPicture++;
  return Encode(video, video->picture, video->pictureStream, frame, error);
}

bool WriteVideoSound(VideoFile* video, const float* samples, int frames, std::string& error) {
  const uint8_t* input[1] = {reinterpret_cast<const uint8_t*>(samples)};
  uint8_t** converted = nullptr;
  int code = av_samples_alloc_array_and_samples(&converted, nullptr, videoChannels, frames,
                                                video->sound->sample_fmt, 0);
  if (code < 0) return Fail(error, "Cannot convert the sound", code);
  code = swr_convert(video->resampler, converted, frames, input, frames);
  if (code >= 0) code = av_audio_fifo_write(video->fifo, reinterpret_cast<void**>(converted), code);
  av_freep(&converted[0]);
  av_freep(&converted);
  if (code < 0) return Fail(error, "Cannot convert the sound", code);
  return EncodeSound(video, false, error);
}

bool FinishVideo(VideoFile* video, std::string& error) {
  bool ok = EncodeSound(video, true, error) &&
            Encode(video, video->sound, video->soundStream, nullptr, error) &&
            Encode(video, video->picture, video->pictureStream, nullptr, error);
  if (ok) {
    if (const int code = av_write_trailer(video->format); code < 0)
      ok = Fail(error, "Cannot finish " + video->temporaryPath, code);
  }
  if (ok) {
    if (const int code = avio_closep(&video->format->pb); code < 0)
      ok = Fail(error, "Cannot close " + video->temporaryPath, code);
  }
  if (ok && std::rename(video->temporaryPath.c_str(), video->path.c_str()) != 0)
    ok =
        Fail(error, "Cannot rename " + video->temporaryPath + " to " + video->path, AVERROR(errno));
  if (!ok) {
    AbandonVideo(video);
    return false;
  }
  Free(video);
  return true;
}

void AbandonVideo(VideoFile* video) {
  const std::string temporaryPath = video->temporaryPath;
  const bool created = video->fileCreated;
  Free(video);
  if (created) std::remove(temporaryPath.c_str());
}
