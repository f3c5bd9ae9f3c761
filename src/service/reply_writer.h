#pragma once
// The reply of a dispatched request: the envelope carrying the output
// parameters and the result, the bare result text of failures, the binary
// parameter block, the asynchronous acknowledgement and the compressed body.
//
// Every reply carries the media type "application/json" (the status page
// "text/html") with the charset label of the service's encoding ("utf-8" for
// esUtf8, "ansi" otherwise) and the same label as Content-Encoding (the label
// names a text encoding, not a compression). Body bytes are always UTF-8.

#include <string>
#include <string_view>

#include "formats/params.h"
#include "formats/text_codec.h"
#include "service/dispatch_outcome.h"
#include "service/http_exchange.h"
#include "service/request_intake.h"

namespace quelvar::service {

std::string_view CharsetLabel(TEncodeSelect encoding);

// The result text as it goes into the envelope: a non-blank text is put in
// double quotes unless it holds both "{" and "}", or both "[" and "]", or
// already begins and ends with a double quote.
std::string WrapResult(std::string_view result);

// {"PARAMS":[P], "RESULT":[R]}: P the parameter texts of the OUT and INOUT
// parameters in list order joined by ", " ("null" when there is none), R the
// wrapped result text.
std::string Envelope(const TDWParams& params, std::string_view result);

// 200, "text/html" with the charset label, the built-in status page.
void WriteStatusPage(TEncodeSelect encoding, HttpReply& reply);

// The acknowledgement of an asynchronous call (compressed when asked).
void WriteAsyncAcknowledgement(const RequestFlags& flags, TEncodeSelect encoding, HttpReply& reply);

// The reply of a dispatched request (outcome kind Reply). With compression, a
// status-200 body is CompressReplyBody of the reply text (or block); any other
// status gets an empty body and the reply text, as EncodeText, in place of the
// reason phrase.
void WriteEventReply(const DispatchOutcome& outcome, const TDWParams& params, const RequestFlags& flags,
                     TEncodeSelect encoding, HttpReply& reply);

}  // namespace quelvar::service
