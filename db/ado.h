// Open modes of recordsets and connections, with ADO's numbers.
#pragma once

namespace db {

enum CursorTypeEnum : int {
  adOpenUnspecified = -1,
  adOpenForwardOnly = 0,
  adOpenKeyset = 1,
  adOpenDynamic = 2,
  adOpenStatic = 3,
};

enum LockTypeEnum : int {
  adLockUnspecified = -1,
  adLockReadOnly = 1,
  adLockPessimistic = 2,
  adLockOptimistic = 3,
  adLockBatchOptimistic = 4,
};

enum CommandTypeEnum : int { adCmdUnspecified = -1 };
enum ConnectOptionEnum : int { adConnectUnspecified = -1 };

// Error numbers of the record objects (ADO's own where it has one).

}  // namespace db
