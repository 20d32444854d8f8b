// URL opening: a stream object is wrapped, a plain path opens a file, and
// "protocol::path" is offered to the chain of registered factories, newest first.
// State: the head of the factory chain.
#include "runtime/text.h"
#include "stream/stream.h"

namespace {

TStreamFactory* factory_head = nullptr;

}  // namespace

TStreamFactory::TStreamFactory() {
  _succ = factory_head;
  factory_head = this;
}

TStreamFactory::~TStreamFactory() {
  for (TStreamFactory** link = &factory_head; *link; link = &(*link)->_succ) {
    if (*link == this) {
      *link = _succ;
      break;
    }
  }
}

// Opens a stream for a URL object; null when nothing can open it.
Ref<TStream> OpenUrlStream(const Ref<Object>& url, bool readable, bool writeable) {
  if (auto stream = std::dynamic_pointer_cast<TStream>(url)) {
    return TStreamStream::Create(stream);
  }
  String text;
  if (auto string = std::dynamic_pointer_cast<TStringObject>(url)) text = string->text;

  String protocol;
  String path;
  size_t split = text.find(u"::");
  if (!text.empty() && split == String::npos) {
    return TCStream::OpenFile(text, readable, writeable);
  }
  if (split != String::npos) {
    protocol = TextLower(text.substr(0, split));
    path = text.substr(split + 2);
  }
  for (TStreamFactory* factory = factory_head; factory; factory = factory->_succ) {
    Ref<TStream> stream = factory->CreateStream(url, protocol, path, readable, writeable);
    if (stream) return stream;
  }
  return nullptr;
}

Ref<TStream> OpenUrlStream(const String& url, bool readable, bool writeable) {
  return OpenUrlStream(std::make_shared<TStringObject>(url), readable, writeable);
}

Ref<TStream> OpenUrlForReading(const String& url) { return OpenUrlStream(url, true, false); }
Ref<TStream> OpenUrlForWriting(const String& url) { return OpenUrlStream(url, false, true); }
Ref<TStream> OpenUrlForReading(const Ref<Object>& url) {
  return OpenUrlStream(url, true, false);
}
Ref<TStream> OpenUrlForWriting(const Ref<Object>& url) {
  return OpenUrlStream(url, false, true);
}
