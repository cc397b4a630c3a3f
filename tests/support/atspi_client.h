// Drives another process's windows the way a screen reader does: a D-Bus session of the
// test's own in which the accessibility bus starts on demand, and a small client over
// libatspi that finds an application, finds accessible objects in it by role and name,
// presses buttons, selects rows and reads states. Used from one thread (the test's).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

typedef struct _AtspiAccessible AtspiAccessible;

namespace testing_support {

// A session bus started through dbus-run-session for this test and the processes it starts;
// it ends, with the accessibility bus started inside it, when the object goes.
class DbusSession {
 public:
  DbusSession();
  ~DbusSession();
  DbusSession(const DbusSession&) = delete;
  DbusSession& operator=(const DbusSession&) = delete;

  // The session's address (for DBUS_SESSION_BUS_ADDRESS); "" when it did not start, and
  // then Problem() says why.
  const std::string& Address() const { return address_; }
  const std::string& Problem() const { return problem_; }

  // Asks the session for the accessibility bus, which starts it; its address, or "" with
  // the reason in *problem.
  std::string AccessibilityBusAddress(std::string* problem) const;

 private:
  pid_t pid_ = -1;
  int input_ = -1;  // closing it ends the session
  std::string address_;
  std::string problem_;
};

// An accessible object of another process; empty when a look-up found nothing.
class AtspiNode {
 public:
  AtspiNode() = default;
  explicit AtspiNode(AtspiAccessible* adopted);

  explicit operator bool() const { return object_ != nullptr; }

  std::string Name() const;
  // The role's name as AT-SPI spells it: "push button", "table cell", "tree table", ...
  std::string Role() const;
  pid_t ProcessId() const;
  // Whether the object's current state set holds the state of that name ("enabled",
  // "sensitive", "selected", "showing", ...). Reads the state anew, never from a cache.
  bool HasState(const std::string& state) const;

  int ChildCount() const;
  AtspiNode Child(int index) const;
  AtspiNode Parent() const;
  int IndexInParent() const;

  // The first descendant, breadth first and at most maxDepth levels down, whose role and
  // name match; an empty role or name matches any.
  AtspiNode Find(const std::string& role, const std::string& name, int maxDepth = 16) const;

  // Does the object's first action (a button's "click"); false when it has none or the
  // call failed.
  bool DoDefaultAction() const;
  // Does the action of that name (a tree cell's "expand or contract"); false when the
  // object has no such action or the call failed.
  bool DoAction(const std::string& name) const;

  // The name as the program gives it now, not as libatspi cached it.
  std::string CurrentName() const;
  // A table's cell at that row and column; empty when there is none.
  AtspiNode CellAt(int row, int column) const;
  // Replaces an editable text's contents; false when the object has no editable text.
  bool SetText(const std::string& text) const;
  // Selects a child of an object that offers a selection (a combo box's entry).
  bool SelectChild(int index) const;
  // Selects the row that holds this cell in its table or tree: through the table's rows
  // when it offers them, else through its selection of children.
  bool SelectRow() const;

  // The subtree down to maxDepth, one line per object ("role 'name' [states]"), for
  // failure messages.
  std::string Describe(int maxDepth = 6) const;

 private:
  friend class AtspiClient;
  void DescribeInto(std::string& out, int depth, int maxDepth) const;

  std::shared_ptr<AtspiAccessible> object_;
};

// The test process's connection to the accessibility bus of the session named by
// DBUS_SESSION_BUS_ADDRESS when Connect is called. One per process.
class AtspiClient {
 public:
  AtspiClient() = default;
  ~AtspiClient();
  AtspiClient(const AtspiClient&) = delete;
  AtspiClient& operator=(const AtspiClient&) = delete;

  // False with the reason when the accessibility bus cannot be reached.
  bool Connect(std::string* problem);

  // Runs the D-Bus messages that arrived (events that keep libatspi's view current).
  void Dispatch();
  // How long a call into the program may take before it counts as failed.
  void SetCallTimeout(std::chrono::milliseconds timeout);

  // The registered application of that name or of that process; empty when none is.
  AtspiNode FindApplication(const std::string& name);
  AtspiNode FindApplication(pid_t pid);
  // The names of the registered applications, for failure messages.
  std::vector<std::string> ApplicationNames();

 private:
  bool connected_ = false;
};

}  // namespace testing_support
