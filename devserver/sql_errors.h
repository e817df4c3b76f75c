// SQL Server's error numbers the server answers with, named by the fault they report. Each one is
// raised with SQL Server's own text for it; see the place that raises it.
#pragma once

#include <cstdint>

namespace devserver::sqlerr {

// Parsing and names.
inline constexpr std::int32_t IncorrectSyntax = 102;
inline constexpr std::int32_t OrderByNotInSelectList = 104;
inline constexpr std::int32_t UnclosedQuotationMark = 105;
inline constexpr std::int32_t MissingEndComment = 113;
inline constexpr std::int32_t NamedParameterFirst = 119;
inline constexpr std::int32_t UndeclaredVariable = 137;
inline constexpr std::int32_t AggregateInWhere = 147;
inline constexpr std::int32_t IncorrectSyntaxNearKeyword = 156;
inline constexpr std::int32_t WrongArgumentCount = 174;
inline constexpr std::int32_t NestedTooDeeply = 191;
inline constexpr std::int32_t NotRecognized = 195;
inline constexpr std::int32_t UnionColumnCount = 205;
inline constexpr std::int32_t InvalidColumnName = 207;
inline constexpr std::int32_t InvalidObjectName = 208;
inline constexpr std::int32_t AmbiguousColumnName = 209;
inline constexpr std::int32_t InsertValueCount = 213;
inline constexpr std::int32_t InvalidDateFormat = 2741;
inline constexpr std::int32_t NotSupported = 40517;

// Routines and their arguments.
inline constexpr std::int32_t ParameterNotSupplied = 201;
inline constexpr std::int32_t InsufficientArguments = 313;
inline constexpr std::int32_t NoSuchProcedure = 2812;
inline constexpr std::int32_t ParameterSuppliedTwice = 8143;
inline constexpr std::int32_t TooManyArguments = 8144;
inline constexpr std::int32_t NotAParameter = 8145;

// Permissions.
inline constexpr std::int32_t PermissionDenied = 229;
inline constexpr std::int32_t ColumnPermissionDenied = 230;
inline constexpr std::int32_t StatementNotPermitted = 262;
inline constexpr std::int32_t ObjectNotFoundOrNoPermission = 1088;

// Values and constraints.
inline constexpr std::int32_t DateConversionFailed = 241;
inline constexpr std::int32_t DateOutOfRange = 242;
inline constexpr std::int32_t ConversionFailed = 245;
inline constexpr std::int32_t NullNotAllowed = 515;
inline constexpr std::int32_t IdentityInsertOff = 544;
inline constexpr std::int32_t IdentityValueRequired = 545;
inline constexpr std::int32_t ConstraintConflict = 547;
inline constexpr std::int32_t UniqueKeyViolation = 2627;
inline constexpr std::int32_t ViewUpdateFailed = 4406;
inline constexpr std::int32_t IdentityUpdate = 8102;
inline constexpr std::int32_t NoIdentityColumn = 8106;
inline constexpr std::int32_t IdentityInsertElsewhere = 8107;
inline constexpr std::int32_t ConversionError = 8114;
inline constexpr std::int32_t ArithmeticOverflow = 8115;
inline constexpr std::int32_t OperandTypeInvalid = 8117;
inline constexpr std::int32_t InvalidLengthParameter = 536;

// The wire: requests this server cannot read or does not serve.
inline constexpr std::int32_t MalformedRequest = 4002;
inline constexpr std::int32_t UnsupportedRequest = 4003;
inline constexpr std::int32_t UnknownHandle = 8179;
inline constexpr std::int32_t TooManyConnections = 17809;

// Transactions, resources and the session.
inline constexpr std::int32_t OutOfMemory = 701;
inline constexpr std::int32_t TempSpaceFull = 1105;
inline constexpr std::int32_t LockTimeout = 1222;
inline constexpr std::int32_t QueryCancelled = 3617;
inline constexpr std::int32_t CommitWithoutBegin = 3902;
inline constexpr std::int32_t RollbackWithoutBegin = 3903;
inline constexpr std::int32_t DatabaseReadOnly = 3906;
inline constexpr std::int32_t CannotOpenDatabase = 4060;
inline constexpr std::int32_t NoTask = 17300;
inline constexpr std::int32_t LoginFailed = 18456;
inline constexpr std::int32_t UserDefined = 50000;  // a server-side failure of our own, with its text

}  // namespace devserver::sqlerr
