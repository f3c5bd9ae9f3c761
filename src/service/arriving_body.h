#pragma once
// A request body as it arrives, its memory taken from the body budget before
// it is used (body_budget.h), for the HTTP parser of the listener.
//
// With an announced length (taken from the budget whole by the caller) the
// text is sized once to that length: its pages fill only as the bytes arrive.
// Without one (chunked), the text's block grows as pieces come (doubling
// while the budget allows, then by a quarter), and every growth is taken from the
// budget before it is made: the budget holds the whole block, not only the
// bytes in it. (The old block, alive only while its bytes are copied into the
// new one, is not counted.) A spent budget stops the read with kBudgetSpent.

#include <cstdint>
#include <string>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>
#include <boost/system/error_code.hpp>

#include "service/body_budget.h"

namespace quelvar::service {

// The error a read stops with when the body budget is spent.
inline const boost::system::error_code kBudgetSpent =
    boost::system::errc::make_error_code(boost::system::errc::not_enough_memory);

// How much a text of `capacity` bytes grows to when `needed` bytes must fit
// (as the standard library's string grows: at least double).
std::uint64_t GrownCapacity(std::uint64_t capacity, std::uint64_t needed);

struct ArrivingBody {
  struct value_type {
    std::string text;
    BudgetHold* pieceByPiece = nullptr;  // set for a body without an announced length
    std::uint64_t counted = 0;           // bytes of `text`'s block taken from the budget
  };

  class reader {
   public:
    template <bool isRequest, class Fields>
    reader(boost::beast::http::header<isRequest, Fields>&, value_type& body) : body_(body) {}

    void init(const boost::optional<std::uint64_t>& length, boost::system::error_code& ec) {
      if (length && body_.pieceByPiece == nullptr) body_.text.reserve(static_cast<std::size_t>(*length));
      ec = {};
    }

    template <class ConstBufferSequence>
    std::size_t put(const ConstBufferSequence& buffers, boost::system::error_code& ec) {
      std::size_t taken = 0;
      for (auto it = boost::asio::buffer_sequence_begin(buffers); it != boost::asio::buffer_sequence_end(buffers);
           ++it) {
        const boost::asio::const_buffer piece = *it;
        if (!Fits(piece.size())) {
          ec = kBudgetSpent;
          return taken;
        }
        body_.text.append(static_cast<const char*>(piece.data()), piece.size());
        taken += piece.size();
      }
      ec = {};
      return taken;
    }

    void finish(boost::system::error_code& ec) { ec = {}; }

   private:
    // Makes room for `more` bytes, taking the growth from the budget first;
    // false when the budget cannot hold it.
    bool Fits(std::size_t more);

    value_type& body_;
  };
};

}  // namespace quelvar::service
