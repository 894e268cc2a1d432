// The layer both HTTP engines build on: a buffered TCP connection (TNetTCPConnection), the
// header list (TNetHeaderList), the ENet* exceptions with their fixed texts, body streams and
// the URL/Base64/address codings. Each header states its own thread safety; in short, objects
// belong to one thread, except TNetTCPConnection::Abort().
#pragma once
#include "http/coding.h"
#include "http/connection.h"
#include "http/exceptions.h"
#include "http/header_list.h"
#include "http/stream.h"
