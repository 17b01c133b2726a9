// The GStreamer element that hosts a filter. One GType per registered filter
// template, all sharing the base type FhBridge (a GstBaseTransform).
#include <gst/base/gstbasetransform.h>
#include <gst/video/video.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge.h"
#include "caps.h"
#include "filterhost/debug.h"
#include "filterhost/filter.h"
#include "filterhost/lookup.h"
#include "filterhost/registry.h"

namespace fh {
namespace {

struct BridgeClassData {
  CFactoryTemplate tmpl;
  ElementInfo info;
  std::vector<ElementProperty> properties;
  std::string clsidText;
  bool inPlace = false;
  bool sameCapsBothSides = false;  // output type is the input type
  GstCaps* sinkCaps = nullptr;
  GstCaps* srcCaps = nullptr;
  GstDebugCategory* category = nullptr;  // the element's, named after its factory
};

// Frame memory as the filter sees it: raw video bottom-up in DIB rows.
struct FrameLayout {
  bool raw = false;
  GstVideoInfo info{};
  long dibStride = 0;
  long dibSize = 0;
};

class Host;

}  // namespace
}  // namespace fh

struct FhBridge {
  GstBaseTransform parent;
  fh::Host* host;
};

struct FhBridgeClass {
  GstBaseTransformClass parent;
  fh::BridgeClassData* data;
};

namespace fh {
namespace {

GstBaseTransformClass* g_parentClass = nullptr;

BridgeClassData* ClassData(gpointer instance) {
  return reinterpret_cast<FhBridgeClass*>(G_OBJECT_GET_CLASS(instance))->data;
}

bool SetLayout(const GstCaps* caps, FrameLayout* layout) {
  const GstStructure* s = gst_caps_get_structure(caps, 0);
  layout->raw = IsRawVideo(s);
  if (!layout->raw) return true;
  if (!gst_video_info_from_caps(&layout->info, caps)) return false;
  const int bits =
      GST_VIDEO_INFO_COMP_DEPTH(&layout->info, 0) == 0 ? 0 : GST_VIDEO_INFO_COMP_PSTRIDE(&layout->info, 0) * 8;
  layout->dibStride = DibStride(GST_VIDEO_INFO_WIDTH(&layout->info), bits);
  layout->dibSize = layout->dibStride * GST_VIDEO_INFO_HEIGHT(&layout->info);
  return true;
}

// Copies rows between a GStreamer frame (top-down, its own stride) and a
// bottom-up DIB.
void CopyFlipped(const GstVideoFrame& frame, const FrameLayout& layout, BYTE* dib, bool toDib) {
  const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
  const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  auto* pixels = static_cast<BYTE*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
  const size_t rowBytes = static_cast<size_t>(std::min<long>(layout.dibStride, stride));
  for (int y = 0; y < height; ++y) {
    BYTE* dibRow = dib + static_cast<size_t>(height - 1 - y) * layout.dibStride;
    BYTE* gstRow = pixels + static_cast<size_t>(y) * stride;
    if (toDib)
      std::memcpy(dibRow, gstRow, rowBytes);
    else
      std::memcpy(gstRow, dibRow, rowBytes);
  }
}

constexpr LONGLONG kNsPerUnit = 100;

void SampleFromBuffer(GstBuffer* buf, CMediaSample* sample) {
  if (GST_BUFFER_PTS_IS_VALID(buf)) {
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(GST_BUFFER_PTS(buf) / kNsPerUnit);
    if (GST_BUFFER_DURATION_IS_VALID(buf)) {
      REFERENCE_TIME stop = start + static_cast<REFERENCE_TIME>(GST_BUFFER_DURATION(buf) / kNsPerUnit);
      sample->SetTime(&start, &stop);
    } else {
      sample->SetTime(&start, nullptr);
    }
  }
  if (GST_BUFFER_OFFSET_IS_VALID(buf) && GST_BUFFER_OFFSET_END_IS_VALID(buf)) {
    LONGLONG a = static_cast<LONGLONG>(GST_BUFFER_OFFSET(buf));
    LONGLONG b = static_cast<LONGLONG>(GST_BUFFER_OFFSET_END(buf));
    sample->SetMediaTime(&a, &b);
  }
  sample->SetSyncPoint(!GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DELTA_UNIT));
  sample->SetDiscontinuity(GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DISCONT));
  sample->SetPreroll(GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DECODE_ONLY));
}

void BufferFromSample(CMediaSample* sample, GstBuffer* buf) {
  REFERENCE_TIME start = 0, stop = 0;
  if (sample->HasTime() && SUCCEEDED(sample->GetTime(&start, &stop))) {
    GST_BUFFER_PTS(buf) = static_cast<GstClockTime>(start) * kNsPerUnit;
    GST_BUFFER_DURATION(buf) = sample->HasStopTime() && stop >= start
                                   ? static_cast<GstClockTime>(stop - start) * kNsPerUnit
                                   : GST_CLOCK_TIME_NONE;
  }
  LONGLONG a = 0, b = 0;
  if (sample->HasMediaTime() && SUCCEEDED(sample->GetMediaTime(&a, &b))) {
    GST_BUFFER_OFFSET(buf) = static_cast<guint64>(a);
    GST_BUFFER_OFFSET_END(buf) = static_cast<guint64>(b);
  }
  auto flag = [buf](GstBufferFlags f, bool on) {
    if (on)
      GST_BUFFER_FLAG_SET(buf, f);
    else
      GST_BUFFER_FLAG_UNSET(buf, f);
  };
  flag(GST_BUFFER_FLAG_DELTA_UNIT, sample->IsSyncPoint() != S_OK);
  flag(GST_BUFFER_FLAG_DISCONT, sample->IsDiscontinuity() == S_OK);
  flag(GST_BUFFER_FLAG_DECODE_ONLY, sample->IsPreroll() == S_OK);
}

// A filter created from its template: the object (one reference held) and
// its transform filter, null when the object is none.
struct CreatedFilter {
  CUnknown* object = nullptr;
  CTransformFilter* filter = nullptr;
};

CreatedFilter CreateTransformFilter(const CFactoryTemplate& t, HRESULT* hr) {
  CreatedFilter created;
  created.object = CreateFromTemplate(t, hr);
  void* f = nullptr;
  if (created.object && SUCCEEDED(created.object->NonDelegatingQueryInterface(IID_IBaseFilter, &f))) {
    created.filter = dynamic_cast<CTransformFilter*>(static_cast<IBaseFilter*>(f));
    static_cast<IBaseFilter*>(f)->Release();
  }
  return created;
}

// Per-element state: the hosted filter, the stand-ins for the neighbouring
// pads, and the reused frame memory.
class Host final : public IFilterHost {
 public:
  Host(GstBaseTransform* element, BridgeClassData* data) : element_(element), data_(data) {
    HRESULT hr = S_OK;
    const CreatedFilter created = CreateTransformFilter(data->tmpl, &hr);
    object_ = created.object;
    filter_ = created.filter;
    if (!filter_)
      GST_CAT_ERROR_OBJECT(data->category, element_, "could not create %s (hr=0x%08X %s)", FilterName(),
                           static_cast<unsigned>(hr), HResultName(hr).c_str());
    if (filter_) {
      filter_->SetHost(this);
      input_ = filter_->GetPin(0);
      output_ = filter_->GetPin(1);
    }
  }
  ~Host() {
    if (filter_) {
      std::lock_guard<std::recursive_mutex> guard(filter_->m_csReceive);
      if (input_) input_->Disconnect();
      if (output_) output_->Disconnect();
      filter_->SetHost(nullptr);
    }
    if (object_) object_->NonDelegatingRelease();
    if (refused_) gst_caps_unref(refused_);
  }

  bool Valid() const { return filter_ && input_ && output_; }
  CUnknown* Object() const { return object_; }
  CTransformFilter* Filter() const { return filter_; }
  const char* FilterName() const { return data_->tmpl.m_pAMovieSetup_Filter->strName; }

  // Lock order: the host's receive lock (m_csReceive, held around every call
  // into the filter from the streaming thread) comes before the filter's own
  // lock (quorlin's lock_, durmix's modeLock_, ...), which the filter takes
  // inside those calls and in its interface methods. A filter may ask for an
  // output reconnection while holding its own lock (durmix's SetMode), so
  // that branch takes no receive lock; the input branch comes from
  // CompleteConnect, inside SetCaps, where the receive lock is held already.
  HRESULT Reconnect(CBasePin* pin, const AM_MEDIA_TYPE* type) override {
    GST_CAT_DEBUG_OBJECT(data_->category, element_, "%s asks to reconnect its %s pin", FilterName(),
                         pin == output_ ? "output" : "input");
    if (pin == output_) {
      gst_base_transform_reconfigure_src(element_);
      return S_OK;
    }
    if (pin == input_) {
      if (!type) {
        gst_base_transform_reconfigure_sink(element_);
        return S_OK;
      }
      // The upstream caps do not change: the connection takes the new type.
      std::lock_guard<std::recursive_mutex> guard(filter_->m_csReceive);
      CMediaType mt(*type);
      return input_->Connect(&upstream_, mt);
    }
    return E_INVALIDARG;
  }

  void PostWarning(const std::string& text) override {
    GST_ELEMENT_WARNING(element_, RESOURCE, WRITE, ("%s", text.c_str()), (nullptr));
  }

  // Output structures for a fixed input structure: what the output pin
  // offers with the input connected that way. Empty when refused.
  GstCaps* OutputsFor(const GstStructure* fixedIn) {
    GstCaps* result = gst_caps_new_empty();
    GstStructure* in = WithStreamRate(fixedIn);
    CMediaType inType;
    if (StructureToMediaType(in, &inType)) AppendOutputsFor(in, inType, result);
    gst_structure_free(in);
    return result;
  }

  // A compressed input whose caps name no frame rate (avidemux gives a codec
  // it cannot name only its FOURCC) takes the rate of the stream upstream:
  // its length in frames over its length in time, which is the rate of the
  // container's header. Returns a copy the caller frees.
  GstStructure* WithStreamRate(const GstStructure* in) {
    GstStructure* s = gst_structure_copy(in);
    if (IsRawVideo(s) || gst_structure_has_field(s, "framerate")) return s;
    GstPad* sink = GST_BASE_TRANSFORM_SINK_PAD(element_);
    gint64 frames = 0, ns = 0;
    if (gst_pad_peer_query_duration(sink, GST_FORMAT_DEFAULT, &frames) && frames > 0 &&
        gst_pad_peer_query_duration(sink, GST_FORMAT_TIME, &ns) && ns > 0) {
      int num = 0, den = 1;
      gst_util_double_to_fraction(static_cast<double>(frames) * GST_SECOND / static_cast<double>(ns), &num, &den);
      if (num > 0 && den > 0) gst_structure_set(s, "framerate", GST_TYPE_FRACTION, num, den, nullptr);
    }
    return s;
  }

  gboolean SetCaps(GstCaps* incaps, GstCaps* outcaps) {
    GstStructure* is = WithStreamRate(gst_caps_get_structure(incaps, 0));
    const gboolean ok = Connect(is, gst_caps_get_structure(outcaps, 0), incaps, outcaps);
    gst_structure_free(is);
    return ok;
  }

  // Whether the input pin takes `inType`, asked as if the output were not
  // connected: a new input type renegotiates the output too, so the current
  // output must not constrain it. With `outs`, also what the output pin
  // offers with the input connected that way.
  bool AcceptsInput(CMediaType& inType, std::vector<CMediaType>* outs) {
    std::lock_guard<std::recursive_mutex> guard(filter_->m_csReceive);
    CBasePin* savedIn = input_->GetConnected();
    CBasePin* savedOut = output_->GetConnected();
    CMediaType savedInType = input_->CurrentMediaType();
    CMediaType savedOutType = output_->CurrentMediaType();
    output_->SetConnectionForQuery(nullptr, nullptr);
    const HRESULT hr = input_->CheckMediaType(&inType);
    const bool accepted = hr == S_OK;
    if (!accepted)
      GST_CAT_DEBUG_OBJECT(data_->category, element_, "does not take the input subtype %s (hr=0x%08X %s)",
                           GuidToString(*inType.Subtype()).c_str(), static_cast<unsigned>(hr), HResultName(hr).c_str());
    if (accepted && outs) {
      upstream_.SetOfferedTypes({inType});
      input_->SetConnectionForQuery(&upstream_, &inType);
      output_->EnumMediaTypes(outs);
      upstream_.SetOfferedTypes(savedIn ? std::vector<CMediaType>{savedInType} : std::vector<CMediaType>{});
    }
    input_->SetConnectionForQuery(savedIn, savedIn ? &savedInType : nullptr);
    output_->SetConnectionForQuery(savedOut, savedOut ? &savedOutType : nullptr);
    return accepted;
  }

  // What the output pin offers with the input connected as `inType`.
  void AppendOutputsFor(const GstStructure* in, CMediaType& inType, GstCaps* result) {
    std::vector<CMediaType> outs;
    if (!AcceptsInput(inType, data_->sameCapsBothSides ? nullptr : &outs)) return;
    if (data_->sameCapsBothSides) {
      gst_caps_append_structure(result, gst_structure_copy(in));
      return;
    }
    for (const CMediaType& mt : outs)
      if (GstStructure* s = MediaTypeToStructure(mt, in)) gst_caps_append_structure(result, s);
  }

  // Connects both pins with the types of `is` and `os`.
  gboolean Connect(const GstStructure* is, const GstStructure* os, GstCaps* incaps, GstCaps* outcaps) {
    std::lock_guard<std::recursive_mutex> guard(filter_->m_csReceive);
    CMediaType in, out;
    if (!StructureToMediaType(is, &in) || !StructureToMediaType(os, &out)) return Refuse(incaps, E_INVALIDARG);
    output_->Disconnect();
    upstream_.SetOfferedTypes({in});
    HRESULT hr = input_->Connect(&upstream_, in);
    if (FAILED(hr) || hr == S_FALSE) return Refuse(incaps, hr);
    downstream_.SetOfferedTypes({out});
    hr = output_->Connect(&downstream_, out);
    if (FAILED(hr) || hr == S_FALSE) return Refuse(outcaps, hr);
    if (!SetLayout(incaps, &inLayout_) || !SetLayout(outcaps, &outLayout_)) return Refuse(incaps, E_INVALIDARG);
    GST_CAT_INFO_OBJECT(data_->category, element_, "connected: input %" GST_PTR_FORMAT ", output %" GST_PTR_FORMAT,
                        static_cast<void*>(incaps), static_cast<void*>(outcaps));
    if (inLayout_.raw) inScratch_.resize(static_cast<size_t>(inLayout_.dibSize));
    if (!filter_->IsInPlace()) {
      const long cb = filter_->OutputPin()->AllocatorProperties().cbBuffer;
      const long outSize = outLayout_.raw ? outLayout_.dibSize : cb;
      outScratch_.resize(static_cast<size_t>(std::max(cb, outSize)));
    }
    newType_ = true;
    return TRUE;
  }

  GstFlowReturn TransformInPlace(GstBuffer* buf) {
    std::lock_guard<std::recursive_mutex> guard(filter_->m_csReceive);
    auto* ip = static_cast<CTransInPlaceFilter*>(filter_);
    const bool writes = ip->ModifiesData() && !gst_base_transform_is_passthrough(element_);
    HRESULT hr;
    if (inLayout_.raw) {
      GstVideoFrame frame;
      if (!gst_video_frame_map(&frame, &inLayout_.info, buf, writes ? GST_MAP_READWRITE : GST_MAP_READ))
        return MapFailed();
      CopyFlipped(frame, inLayout_, inScratch_.data(), true);
      PrepareSample(&inSample_, buf, inScratch_.data(), inLayout_.dibSize, inLayout_.dibSize);
      hr = ip->Transform(&inSample_);
      if (hr == S_OK && writes && ip->WroteLastFrame()) CopyFlipped(frame, inLayout_, inScratch_.data(), false);
      gst_video_frame_unmap(&frame);
    } else {
      GstMapInfo map;
      if (!gst_buffer_map(buf, &map, writes ? GST_MAP_READWRITE : GST_MAP_READ)) return MapFailed();
      PrepareSample(&inSample_, buf, map.data, static_cast<long>(map.size), static_cast<long>(map.size));
      hr = ip->Transform(&inSample_);
      gst_buffer_unmap(buf, &map);
    }
    return Result(hr);
  }

  GstFlowReturn TransformCopy(GstBuffer* inbuf, GstBuffer* outbuf) {
    std::lock_guard<std::recursive_mutex> guard(filter_->m_csReceive);
    GstVideoFrame inFrame;
    GstMapInfo inMap;
    if (inLayout_.raw) {
      if (!gst_video_frame_map(&inFrame, &inLayout_.info, inbuf, GST_MAP_READ)) return MapFailed();
      CopyFlipped(inFrame, inLayout_, inScratch_.data(), true);
      gst_video_frame_unmap(&inFrame);
      PrepareSample(&inSample_, inbuf, inScratch_.data(), inLayout_.dibSize, inLayout_.dibSize);
    } else {
      if (!gst_buffer_map(inbuf, &inMap, GST_MAP_READ)) return MapFailed();
      PrepareSample(&inSample_, inbuf, inMap.data, static_cast<long>(inMap.size), static_cast<long>(inMap.size));
    }
    const long outSize = static_cast<long>(outScratch_.size());
    outSample_.Reset(outScratch_.data(), outSize, outSize);
    HRESULT hr = filter_->Transform(&inSample_, &outSample_);
    if (!inLayout_.raw) gst_buffer_unmap(inbuf, &inMap);
    if (hr != S_OK) return Result(hr);

    const long length = outSample_.GetActualDataLength();
    if (outLayout_.raw) {
      GstVideoFrame outFrame;
      if (!gst_video_frame_map(&outFrame, &outLayout_.info, outbuf, GST_MAP_WRITE)) return MapFailed();
      CopyFlipped(outFrame, outLayout_, outScratch_.data(), false);
      gst_video_frame_unmap(&outFrame);
    } else {
      const gsize capacity = gst_buffer_get_size(outbuf);
      const gsize n = std::min<gsize>(capacity, static_cast<gsize>(length));
      gst_buffer_fill(outbuf, 0, outScratch_.data(), n);
      gst_buffer_set_size(outbuf, static_cast<gssize>(n));
    }
    BufferFromSample(&outSample_, outbuf);
    return GST_FLOW_OK;
  }

  // Size of an output buffer: the frame for raw video, else what the
  // filter's buffer negotiation asked for.
  gsize OutputSize() const { return outLayout_.raw ? GST_VIDEO_INFO_SIZE(&outLayout_.info) : outScratch_.size(); }

  void Stream(bool start) {
    GST_CAT_INFO_OBJECT(data_->category, element_, "%s streaming", start ? "starts" : "stops");
    std::lock_guard<std::recursive_mutex> guard(filter_->m_csReceive);
    if (start) {
      filter_->SetState(State_Running);
      filter_->StartStreaming();
    } else {
      filter_->StopStreaming();
      filter_->SetState(State_Stopped);
    }
  }

  void EndOfStream() {
    GST_CAT_DEBUG_OBJECT(data_->category, element_, "end of stream");
    std::lock_guard<std::recursive_mutex> guard(filter_->m_csReceive);
    filter_->EndOfStream();
  }

  // Whether the filter takes a fixed input structure.
  bool Accepts(const GstStructure* s) {
    CMediaType mt;
    return StructureToMediaType(s, &mt) && AcceptsInput(mt, nullptr);
  }

  // Posts the refusal of `caps` unless it was the last one posted.
  void ReportRefusal(GstCaps* caps) {
    {
      std::lock_guard<std::mutex> guard(refusedLock_);
      if (refused_ && gst_caps_is_equal(refused_, caps)) return;
      gst_caps_replace(&refused_, caps);
    }
    Refuse(caps, VFW_E_TYPE_NOT_ACCEPTED);
  }

  // Negotiation failure with a message that names the filter and the type.
  gboolean Refuse(GstCaps* caps, HRESULT hr) {
    GST_CAT_WARNING_OBJECT(data_->category, element_, "refuses %" GST_PTR_FORMAT " (hr=0x%08X %s)",
                           static_cast<void*>(caps), static_cast<unsigned>(hr), HResultName(hr).c_str());
    gchar* text = gst_caps_to_string(caps);
    GST_ELEMENT_ERROR(element_, CORE, NEGOTIATION,
                      ("%s refuses the video format %s (hr=0x%08X %s)", FilterName(), text, static_cast<unsigned>(hr),
                       HResultName(hr).c_str()),
                      (nullptr));
    g_free(text);
    return FALSE;
  }

 private:
  void PrepareSample(CMediaSample* sample, GstBuffer* buf, BYTE* data, long size, long length) {
    GST_CAT_LOG_OBJECT(data_->category, element_, "frame %" GST_TIME_FORMAT ", %ld bytes",
                       GST_TIME_ARGS(GST_BUFFER_PTS(buf)), length);
    sample->Reset(data, size, length);
    SampleFromBuffer(buf, sample);
    if (newType_) {
      sample->SetMediaType(const_cast<CMediaType*>(&input_->CurrentMediaType()));
      newType_ = false;
    }
  }

  GstFlowReturn MapFailed() {
    GST_CAT_ERROR_OBJECT(data_->category, element_, "could not map a frame");
    GST_ELEMENT_ERROR(element_, STREAM, FAILED, ("%s could not map a frame", FilterName()), (nullptr));
    return GST_FLOW_ERROR;
  }

  GstFlowReturn Result(HRESULT hr) {
    if (hr == S_OK) return GST_FLOW_OK;
    if (hr == S_FALSE) return GST_BASE_TRANSFORM_FLOW_DROPPED;
    GST_CAT_ERROR_OBJECT(data_->category, element_, "Transform failed (hr=0x%08X %s)", static_cast<unsigned>(hr),
                         HResultName(hr).c_str());
    GST_ELEMENT_ERROR(
        element_, STREAM, FAILED,
        ("%s: Transform failed (hr=0x%08X %s)", FilterName(), static_cast<unsigned>(hr), HResultName(hr).c_str()),
        (nullptr));
    return GST_FLOW_ERROR;
  }

  GstBaseTransform* element_;
  BridgeClassData* data_;
  CUnknown* object_ = nullptr;
  CTransformFilter* filter_ = nullptr;
  CBasePin* input_ = nullptr;
  CBasePin* output_ = nullptr;
  CExternalPin upstream_{"upstream", PINDIR_OUTPUT};
  CExternalPin downstream_{"downstream", PINDIR_INPUT};
  CMediaSample inSample_, outSample_;
  FrameLayout inLayout_, outLayout_;
  std::vector<BYTE> inScratch_, outScratch_;
  bool newType_ = false;
  std::mutex refusedLock_;
  GstCaps* refused_ = nullptr;
};

Host* HostOf(gpointer element) { return reinterpret_cast<FhBridge*>(element)->host; }

// ---- GstBaseTransform callbacks

bool StructureIsFixed(const GstStructure* s) {
  return gst_structure_foreach(
      s, [](GQuark, const GValue* v, gpointer) -> gboolean { return gst_value_is_fixed(v); }, nullptr);
}

GstCaps* TransformCaps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps, GstCaps* filter) {
  BridgeClassData* data = ClassData(trans);
  Host* host = HostOf(trans);
  GstCaps* result = gst_caps_new_empty();
  const bool toSrc = direction == GST_PAD_SINK;
  GstCaps* otherTemplate = toSrc ? data->srcCaps : data->sinkCaps;
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    if (toSrc && StructureIsFixed(s)) {
      result = gst_caps_merge(result, host->OutputsFor(s));
    } else if (data->sameCapsBothSides) {
      GstCaps* one = gst_caps_new_full(gst_structure_copy(s), nullptr);
      result = gst_caps_merge(result, gst_caps_intersect(one, otherTemplate));
      gst_caps_unref(one);
    } else {
      result = gst_caps_merge(result, gst_caps_ref(otherTemplate));
    }
  }
  if (filter) {
    GstCaps* f = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(result);
    result = f;
  }
  return result;
}

GstCaps* FixateCaps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps, GstCaps* othercaps) {
  if (direction == GST_PAD_SINK && gst_caps_is_fixed(caps)) {
    GstCaps* exact = HostOf(trans)->OutputsFor(gst_caps_get_structure(caps, 0));
    GstCaps* both = gst_caps_intersect_full(exact, othercaps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(exact);
    if (!gst_caps_is_empty(both)) {
      gst_caps_unref(othercaps);
      return gst_caps_fixate(both);
    }
    gst_caps_unref(both);
  }
  return g_parentClass->fixate_caps(trans, direction, caps, othercaps);
}

gboolean SetCaps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* outcaps) {
  return HostOf(trans)->SetCaps(incaps, outcaps);
}

gboolean SinkEvent(GstBaseTransform* trans, GstEvent* event) {
  if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) HostOf(trans)->EndOfStream();
  return g_parentClass->sink_event(trans, event);
}

// Upstream asks before it sends caps. An element that is never autoplugged
// is asked only by the peer about to send them, so a refusal is final: it is
// reported once with a message naming the filter and the format, rather than
// surfacing later as a bare "not negotiated".
gboolean AcceptCaps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps) {
  gboolean ok = g_parentClass->accept_caps(trans, direction, caps);
  if (direction == GST_PAD_SINK && gst_caps_is_fixed(caps)) {
    Host* host = HostOf(trans);
    if (ok && !host->Accepts(gst_caps_get_structure(caps, 0))) ok = FALSE;
    if (!ok && RankFromMerit(ClassData(trans)->tmpl.m_pAMovieSetup_Filter->dwMerit) == GST_RANK_NONE)
      host->ReportRefusal(caps);
  }
  return ok;
}

gboolean TransformSize(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps, gsize size,
                       GstCaps* othercaps, gsize* othersize) {
  *othersize = HostOf(trans)->OutputSize();
  return TRUE;
}

// Output buffers come from a pool sized for the filter's output, so that no
// buffer is allocated per frame.
gboolean DecideAllocation(GstBaseTransform* trans, GstQuery* query) {
  Host* host = HostOf(trans);
  if (!host->Filter()->IsInPlace()) {
    const guint needed = static_cast<guint>(host->OutputSize());
    if (gst_query_get_n_allocation_pools(query) == 0) {
      GstCaps* caps = nullptr;
      gst_query_parse_allocation(query, &caps, nullptr);
      GstBufferPool* pool = gst_buffer_pool_new();
      gst_query_add_allocation_pool(query, pool, needed, 2, 0);
      gst_object_unref(pool);
    }
    for (guint i = 0; i < gst_query_get_n_allocation_pools(query); ++i) {
      GstBufferPool* pool = nullptr;
      guint size = 0, min = 0, max = 0;
      gst_query_parse_nth_allocation_pool(query, i, &pool, &size, &min, &max);
      if (size < needed) gst_query_set_nth_allocation_pool(query, i, pool, needed, min, max);
      if (pool) gst_object_unref(pool);
    }
  }
  return g_parentClass->decide_allocation(trans, query);
}

GstFlowReturn TransformIp(GstBaseTransform* trans, GstBuffer* buf) { return HostOf(trans)->TransformInPlace(buf); }

GstFlowReturn Transform(GstBaseTransform* trans, GstBuffer* inbuf, GstBuffer* outbuf) {
  return HostOf(trans)->TransformCopy(inbuf, outbuf);
}

gboolean Start(GstBaseTransform* trans) {
  HostOf(trans)->Stream(true);
  return TRUE;
}

gboolean Stop(GstBaseTransform* trans) {
  HostOf(trans)->Stream(false);
  return TRUE;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  BridgeClassData* data = ClassData(object);
  if (id == 0 || id > data->properties.size()) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    return;
  }
  data->properties[id - 1].set(HostOf(object)->Object(), value);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  BridgeClassData* data = ClassData(object);
  if (id == 0 || id > data->properties.size()) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    return;
  }
  data->properties[id - 1].get(HostOf(object)->Object(), value);
}

void Finalize(GObject* object) {
  delete HostOf(object);
  reinterpret_cast<FhBridge*>(object)->host = nullptr;
  G_OBJECT_CLASS(g_parentClass)->finalize(object);
}

void BaseClassInit(gpointer klass, gpointer) {
  g_parentClass = static_cast<GstBaseTransformClass*>(g_type_class_peek_parent(klass));
  G_OBJECT_CLASS(klass)->finalize = Finalize;
  auto* bt = GST_BASE_TRANSFORM_CLASS(klass);
  bt->transform_caps = TransformCaps;
  bt->fixate_caps = FixateCaps;
  bt->set_caps = SetCaps;
  bt->sink_event = SinkEvent;
  bt->accept_caps = AcceptCaps;
  bt->transform_size = TransformSize;
  bt->decide_allocation = DecideAllocation;
  bt->start = Start;
  bt->stop = Stop;
}

// Each concrete type: metadata, pads, properties and in-place mode of one
// filter template.
void ConcreteClassInit(gpointer klass, gpointer classData) {
  auto* data = static_cast<BridgeClassData*>(classData);
  reinterpret_cast<FhBridgeClass*>(klass)->data = data;
  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(element, data->tmpl.m_pAMovieSetup_Filter->strName, data->info.klass,
                                        data->info.description, "Vireo");
  gst_element_class_add_metadata(element, kClsidMetadataKey, data->clsidText.c_str());
  gst_element_class_add_pad_template(element,
                                     gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, data->sinkCaps));
  gst_element_class_add_pad_template(element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, data->srcCaps));
  // GObject does not inherit the property accessors.
  G_OBJECT_CLASS(klass)->set_property = SetProperty;
  G_OBJECT_CLASS(klass)->get_property = GetProperty;
  auto* bt = GST_BASE_TRANSFORM_CLASS(klass);
  if (data->inPlace)
    bt->transform_ip = TransformIp;
  else
    bt->transform = Transform;
  bt->passthrough_on_same_caps = FALSE;
  bt->transform_ip_on_passthrough = TRUE;
  for (size_t i = 0; i < data->properties.size(); ++i) {
    const ElementProperty& p = data->properties[i];
    constexpr auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    GParamSpec* spec = p.kind == ElementProperty::Kind::String
                           ? g_param_spec_string(p.name, p.name, p.blurb, "", flags)
                           : g_param_spec_int(p.name, p.name, p.blurb, p.minimum, p.maximum, p.defaultValue, flags);
    g_object_class_install_property(G_OBJECT_CLASS(klass), static_cast<guint>(i + 1), spec);
  }
}

void InstanceInit(GTypeInstance* instance, gpointer klass) {
  auto* self = reinterpret_cast<FhBridge*>(instance);
  auto* data = reinterpret_cast<FhBridgeClass*>(klass)->data;
  if (!data) return;  // the abstract base type
  self->host = new Host(GST_BASE_TRANSFORM(instance), data);
  if (data->inPlace) {
    auto* ip = static_cast<CTransInPlaceFilter*>(self->host->Filter());
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(instance), TRUE);
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(instance), ip && !ip->ModifiesData());
  }
}

// Template caps: every probe format the input pin accepts; for the output,
// what the filter offers for each of them.
void ComputeTemplates(BridgeClassData* data) {
  data->sinkCaps = gst_caps_new_empty();
  data->srcCaps = gst_caps_new_empty();
  HRESULT hr = S_OK;
  const auto [object, filter] = CreateTransformFilter(data->tmpl, &hr);
  if (!object) {
    GST_CAT_ERROR(BridgeDebug(), "could not create %s (hr=0x%08X %s)", data->info.elementName,
                  static_cast<unsigned>(hr), HResultName(hr).c_str());
    return;
  }
  if (filter) {
    data->inPlace = filter->IsInPlace();
    CBasePin* in = filter->GetPin(0);
    CBasePin* out = filter->GetPin(1);
    CExternalPin upstream("upstream", PINDIR_OUTPUT);
    int count = 0;
    const ProbeFormat* probes = ProbeFormats(&count);
    bool identity = true;
    for (int i = 0; in && out && i < count; ++i) {
      CMediaType probe = ProbeMediaType(probes[i]);
      if (in->CheckMediaType(&probe) != S_OK) continue;
      GstStructure* ps = MediaTypeToStructure(probe, nullptr);
      data->sinkCaps = gst_caps_merge_structure(data->sinkCaps, GeneralizeStructure(ps));
      upstream.SetOfferedTypes({probe});
      in->SetConnectionForQuery(&upstream, &probe);
      std::vector<CMediaType> outs;
      out->EnumMediaTypes(&outs);
      in->SetConnectionForQuery(nullptr, nullptr);
      for (const CMediaType& mt : outs) {
        if (!(mt == probe)) identity = false;
        if (GstStructure* os = MediaTypeToStructure(mt, ps)) {
          data->srcCaps = gst_caps_merge_structure(data->srcCaps, GeneralizeStructure(os));
          gst_structure_free(os);
        }
      }
      gst_structure_free(ps);
    }
    data->sameCapsBothSides = identity && data->inPlace;
  }
  object->NonDelegatingRelease();
  data->sinkCaps = gst_caps_simplify(data->sinkCaps);
  data->srcCaps = gst_caps_simplify(data->srcCaps);
  GST_CAT_DEBUG(BridgeDebug(), "%s takes %" GST_PTR_FORMAT ", gives %" GST_PTR_FORMAT, data->info.elementName,
                static_cast<void*>(data->sinkCaps), static_cast<void*>(data->srcCaps));
  GST_MINI_OBJECT_FLAG_SET(data->sinkCaps, GST_MINI_OBJECT_FLAG_MAY_BE_LEAKED);
  GST_MINI_OBJECT_FLAG_SET(data->srcCaps, GST_MINI_OBJECT_FLAG_MAY_BE_LEAKED);
}

}  // namespace

GType BridgeGetType() {
  static GType type = [] {
    GTypeInfo info{};
    info.class_size = sizeof(FhBridgeClass);
    info.class_init = BaseClassInit;
    info.instance_size = sizeof(FhBridge);
    info.instance_init = InstanceInit;
    return g_type_register_static(GST_TYPE_BASE_TRANSFORM, "FhBridge", &info, G_TYPE_FLAG_ABSTRACT);
  }();
  return type;
}

CUnknown* BridgeObject(GstElement* element) {
  if (!element || !G_TYPE_CHECK_INSTANCE_TYPE(element, BridgeGetType())) return nullptr;
  Host* host = HostOf(element);
  return host ? host->Object() : nullptr;
}

GstRank RankFromMerit(DWORD merit) {
  if (merit >= MERIT_PREFERRED) return GST_RANK_PRIMARY;
  if (merit >= MERIT_NORMAL) return GST_RANK_SECONDARY;
  if (merit > MERIT_UNLIKELY) return GST_RANK_MARGINAL;
  return GST_RANK_NONE;
}

CUnknown* CreateFromTemplate(const CFactoryTemplate& t, HRESULT* hr) {
  HRESULT local = S_OK;
  if (!hr) hr = &local;
  *hr = S_OK;
  if (!t.m_lpfnNew) {
    *hr = E_POINTER;
    return nullptr;
  }
  CUnknown* object = t.m_lpfnNew(nullptr, hr);
  if (!object) {
    if (SUCCEEDED(*hr)) *hr = E_OUTOFMEMORY;
    return nullptr;
  }
  if (FAILED(*hr)) {
    object->NonDelegatingAddRef();
    object->NonDelegatingRelease();
    return nullptr;
  }
  object->NonDelegatingAddRef();
  return object;
}

gboolean RegisterFilter(GstPlugin* plugin, const CFactoryTemplate& t, const ElementInfo& info) {
  if (!t.m_pAMovieSetup_Filter || !t.m_ClsID || !info.elementName) return FALSE;
  auto* data = new BridgeClassData;
  data->tmpl = t;
  data->info = info;
  data->properties.assign(info.properties, info.properties + info.propertyCount);
  data->clsidText = GuidToString(*t.m_ClsID);
  data->category = DebugCategory(info.elementName, info.description);
  ComputeTemplates(data);
  if (gst_caps_is_empty(data->sinkCaps)) {
    GST_CAT_ERROR(BridgeDebug(), "filter %s accepts no format the bridge can carry", info.elementName);
    return FALSE;
  }
  GST_CAT_INFO(BridgeDebug(), "registering %s for %s (%s)", info.elementName, t.m_pAMovieSetup_Filter->strName,
               data->clsidText.c_str());

  std::string typeName = std::string("FhBridge_") + info.elementName;
  for (char& c : typeName)
    if (!g_ascii_isalnum(c) && c != '_') c = '_';
  GType type = g_type_from_name(typeName.c_str());
  if (!type) {
    GTypeInfo ti{};
    ti.class_size = sizeof(FhBridgeClass);
    ti.class_init = ConcreteClassInit;
    ti.class_data = data;
    ti.instance_size = sizeof(FhBridge);
    type = g_type_register_static(BridgeGetType(), typeName.c_str(), &ti, GTypeFlags(0));
  }
  return gst_element_register(plugin, info.elementName, RankFromMerit(t.m_pAMovieSetup_Filter->dwMerit), type);
}

}  // namespace fh
