#include "tests/support/atspi_client.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <utility>

extern char** environ;

namespace testing_support {
namespace {

// Takes a GError's message and frees it; "" when there was none.
std::string TakeError(GError* error) {
  if (error == nullptr) return {};
  std::string text = error->message != nullptr ? error->message : "?";
  g_error_free(error);
  return text;
}

std::string TakeString(gchar* text) {
  if (text == nullptr) return {};
  std::string copy = text;
  g_free(text);
  return copy;
}

// A GObject reference released at the end of its scope.
template <class T>
struct Ref {
  explicit Ref(T* object) : object(object) {}
  ~Ref() {
    if (object != nullptr) g_object_unref(object);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* object;
};

std::vector<std::string> StateNames(AtspiStateSet* set) {
  std::vector<std::string> names;
  GArray* states = atspi_state_set_get_states(set);
  if (states == nullptr) return names;
  auto* type = static_cast<GEnumClass*>(g_type_class_ref(ATSPI_TYPE_STATE_TYPE));
  for (guint i = 0; i < states->len; ++i) {
    const GEnumValue* value = g_enum_get_value(type, g_array_index(states, AtspiStateType, i));
    names.push_back(value != nullptr ? value->value_nick : "?");
  }
  g_type_class_unref(type);
  g_array_free(states, TRUE);
  return names;
}

}  // namespace

// ---- DbusSession ----

DbusSession::DbusSession() {
  int toChild[2] = {-1, -1};
  int fromChild[2] = {-1, -1};
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
    problem_ = "no pipe";
    return;
  }
  // The inner command prints the session's address and then waits until its input
  // closes, which ends the session (and every bus service started in it).
  std::vector<std::string> args = {"dbus-run-session", "--", "sh", "-c",
                                   "echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat >/dev/null"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  const int spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  input_ = toChild[1];
  if (spawned != 0) {
    pid_ = -1;
    close(fromChild[0]);
    problem_ = "dbus-run-session could not be started";
    return;
  }
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fromChild[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[256];
    const ssize_t got = read(fromChild[0], buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<std::size_t>(got));
  }
  close(fromChild[0]);
  if (const auto end = line.find('\n'); end != std::string::npos) line.resize(end);
  if (line.empty()) {
    problem_ = "dbus-run-session gave no session address";
    return;
  }
  address_ = line;
}

DbusSession::~DbusSession() {
  if (input_ >= 0) close(input_);
  if (pid_ <= 0) return;
  // The session ends once its command has read the end of its input; a session that
  // does not is ended.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    usleep(20'000);
  }
}

std::string DbusSession::AccessibilityBusAddress(std::string* problem) const {
  if (address_.empty()) {
    *problem = problem_;
    return {};
  }
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* connection = dbus_connection_open_private(address_.c_str(), &error);
  std::string result;
  if (connection != nullptr && dbus_bus_register(connection, &error)) {
    DBusMessage* call =
        dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress");
    DBusMessage* reply =
        dbus_connection_send_with_reply_and_block(connection, call, 20'000, &error);
    dbus_message_unref(call);
    const char* text = nullptr;
    if (reply != nullptr &&
        dbus_message_get_args(reply, &error, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID) &&
        text != nullptr) {
      result = text;
    }
    if (reply != nullptr) dbus_message_unref(reply);
  }
  if (connection != nullptr) {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
  }
  if (result.empty()) {
    *problem = dbus_error_is_set(&error) ? std::string(error.name) + ": " + error.message
                                         : "the accessibility bus gave no address";
  }
  dbus_error_free(&error);
  return result;
}

// ---- AtspiNode ----

AtspiNode::AtspiNode(AtspiAccessible* adopted) {
  if (adopted != nullptr)
    object_.reset(adopted, [](AtspiAccessible* object) { g_object_unref(object); });
}

std::string AtspiNode::Name() const {
  if (!object_) return {};
  GError* error = nullptr;
  std::string name = TakeString(atspi_accessible_get_name(object_.get(), &error));
  TakeError(error);
  return name;
}

std::string AtspiNode::Role() const {
  if (!object_) return {};
  GError* error = nullptr;
  std::string role = TakeString(atspi_accessible_get_role_name(object_.get(), &error));
  TakeError(error);
  return role;
}

pid_t AtspiNode::ProcessId() const {
  if (!object_) return -1;
  GError* error = nullptr;
  const guint pid = atspi_accessible_get_process_id(object_.get(), &error);
  return TakeError(error).empty() ? static_cast<pid_t>(pid) : -1;
}

bool AtspiNode::HasState(const std::string& state) const {
  if (!object_) return false;
  atspi_accessible_clear_cache(object_.get());
  Ref<AtspiStateSet> set(atspi_accessible_get_state_set(object_.get()));
  if (set.object == nullptr) return false;
  for (const std::string& name : StateNames(set.object))
    if (name == state) return true;
  return false;
}

int AtspiNode::ChildCount() const {
  if (!object_) return 0;
  GError* error = nullptr;
  const int count = atspi_accessible_get_child_count(object_.get(), &error);
  return TakeError(error).empty() ? count : 0;
}

AtspiNode AtspiNode::Child(int index) const {
  if (!object_) return {};
  GError* error = nullptr;
  AtspiNode child(atspi_accessible_get_child_at_index(object_.get(), index, &error));
  TakeError(error);
  return child;
}

AtspiNode AtspiNode::Parent() const {
  if (!object_) return {};
  GError* error = nullptr;
  AtspiNode parent(atspi_accessible_get_parent(object_.get(), &error));
  TakeError(error);
  return parent;
}

int AtspiNode::IndexInParent() const {
  if (!object_) return -1;
  GError* error = nullptr;
  const int index = atspi_accessible_get_index_in_parent(object_.get(), &error);
  return TakeError(error).empty() ? index : -1;
}

AtspiNode AtspiNode::Find(const std::string& role, const std::string& name, int maxDepth) const {
  std::deque<std::pair<AtspiNode, int>> queue;
  for (int i = 0, n = ChildCount(); i < n; ++i) queue.emplace_back(Child(i), 1);
  while (!queue.empty()) {
    auto [node, depth] = std::move(queue.front());
    queue.pop_front();
    if (!node) continue;
    if ((role.empty() || node.Role() == role) && (name.empty() || node.Name() == name)) return node;
    if (depth >= maxDepth) continue;
    for (int i = 0, n = node.ChildCount(); i < n; ++i) queue.emplace_back(node.Child(i), depth + 1);
  }
  return {};
}

bool AtspiNode::DoDefaultAction() const {
  if (!object_) return false;
  Ref<AtspiAction> action(atspi_accessible_get_action_iface(object_.get()));
  if (action.object == nullptr) return false;
  GError* error = nullptr;
  if (atspi_action_get_n_actions(action.object, &error) < 1 || !TakeError(error).empty())
    return false;
  error = nullptr;
  const gboolean done = atspi_action_do_action(action.object, 0, &error);
  return TakeError(error).empty() && done;
}

bool AtspiNode::DoAction(const std::string& name) const {
  if (!object_) return false;
  Ref<AtspiAction> action(atspi_accessible_get_action_iface(object_.get()));
  if (action.object == nullptr) return false;
  GError* error = nullptr;
  const int count = atspi_action_get_n_actions(action.object, &error);
  if (!TakeError(error).empty()) return false;
  for (int i = 0; i < count; ++i) {
    error = nullptr;
    if (TakeString(atspi_action_get_action_name(action.object, i, &error)) != name) continue;
    TakeError(error);
    error = nullptr;
    const gboolean done = atspi_action_do_action(action.object, i, &error);
    return TakeError(error).empty() && done;
  }
  return false;
}

std::string AtspiNode::CurrentName() const {
  if (!object_) return {};
  atspi_accessible_clear_cache(object_.get());
  return Name();
}

AtspiNode AtspiNode::CellAt(int row, int column) const {
  if (!object_) return {};
  Ref<AtspiTable> table(atspi_accessible_get_table_iface(object_.get()));
  if (table.object == nullptr) return {};
  GError* error = nullptr;
  AtspiNode cell(atspi_table_get_accessible_at(table.object, row, column, &error));
  if (!TakeError(error).empty()) return {};
  return cell;
}

bool AtspiNode::SetText(const std::string& text) const {
  if (!object_) return false;
  Ref<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object_.get()));
  if (editable.object == nullptr) return false;
  GError* error = nullptr;
  const gboolean done =
      atspi_editable_text_set_text_contents(editable.object, text.c_str(), &error);
  return TakeError(error).empty() && done;
}

bool AtspiNode::SelectChild(int index) const {
  if (!object_) return false;
  Ref<AtspiSelection> selection(atspi_accessible_get_selection_iface(object_.get()));
  if (selection.object == nullptr) return false;
  GError* error = nullptr;
  const gboolean done = atspi_selection_select_child(selection.object, index, &error);
  return TakeError(error).empty() && done;
}

bool AtspiNode::SelectRow() const {
  // A cell made of several parts (an image and a text) is a cell within the row's cell.
  AtspiNode cell = *this;
  AtspiNode container = Parent();
  while (container && container.Role() == "table cell") {
    cell = container;
    container = container.Parent();
  }
  const int index = cell.IndexInParent();
  if (!container || index < 0) return false;
  GError* error = nullptr;
  {
    Ref<AtspiTable> table(atspi_accessible_get_table_iface(container.object_.get()));
    if (table.object != nullptr) {
      const int row = atspi_table_get_row_at_index(table.object, index, &error);
      if (TakeError(error).empty() && row >= 0) {
        error = nullptr;
        const gboolean done = atspi_table_add_row_selection(table.object, row, &error);
        if (TakeError(error).empty() && done) return true;
      }
    }
  }
  Ref<AtspiSelection> selection(atspi_accessible_get_selection_iface(container.object_.get()));
  if (selection.object == nullptr) return false;
  error = nullptr;
  const gboolean done = atspi_selection_select_child(selection.object, index, &error);
  return TakeError(error).empty() && done;
}

std::string AtspiNode::Describe(int maxDepth) const {
  std::string out;
  DescribeInto(out, 0, maxDepth);
  return out;
}

void AtspiNode::DescribeInto(std::string& out, int depth, int maxDepth) const {
  if (!object_) return;
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
  out += Role() + " '" + Name() + "' [";
  atspi_accessible_clear_cache(object_.get());
  Ref<AtspiStateSet> set(atspi_accessible_get_state_set(object_.get()));
  if (set.object != nullptr) {
    bool first = true;
    for (const std::string& state : StateNames(set.object)) {
      if (state != "enabled" && state != "sensitive" && state != "selected" && state != "showing")
        continue;
      out += (first ? "" : " ") + state;
      first = false;
    }
  }
  out += "]\n";
  if (depth >= maxDepth) return;
  for (int i = 0, n = ChildCount(); i < n; ++i) Child(i).DescribeInto(out, depth + 1, maxDepth);
}

// ---- AtspiClient ----

AtspiClient::~AtspiClient() {
  if (connected_) atspi_exit();
}

bool AtspiClient::Connect(std::string* problem) {
  if (connected_) return true;
  const int result = atspi_init();
  // 1: already initialised in this process.
  if (result != 0 && result != 1) {
    *problem = "libatspi could not be initialised (" + std::to_string(result) + ")";
    return false;
  }
  // Calls into a program that is busy (or slow to start on a loaded machine) wait
  // longer than libatspi's default before they count as failed.
  atspi_set_timeout(10'000, 30'000);
  if (atspi_get_a11y_bus() == nullptr) {
    *problem = "libatspi reached no accessibility bus";
    return false;
  }
  connected_ = true;
  return true;
}

void AtspiClient::SetCallTimeout(std::chrono::milliseconds timeout) {
  atspi_set_timeout(static_cast<int>(timeout.count()), 30'000);
}

void AtspiClient::Dispatch() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

AtspiNode AtspiClient::FindApplication(const std::string& name) {
  Dispatch();
  AtspiNode desktop(atspi_get_desktop(0));
  if (!desktop) return {};
  atspi_accessible_clear_cache(desktop.object_.get());
  for (int i = 0, n = desktop.ChildCount(); i < n; ++i) {
    AtspiNode app = desktop.Child(i);
    if (app && app.Name() == name) return app;
  }
  return {};
}

AtspiNode AtspiClient::FindApplication(pid_t pid) {
  Dispatch();
  AtspiNode desktop(atspi_get_desktop(0));
  if (!desktop) return {};
  atspi_accessible_clear_cache(desktop.object_.get());
  for (int i = 0, n = desktop.ChildCount(); i < n; ++i) {
    AtspiNode app = desktop.Child(i);
    if (app && app.ProcessId() == pid) return app;
  }
  return {};
}

std::vector<std::string> AtspiClient::ApplicationNames() {
  Dispatch();
  std::vector<std::string> names;
  AtspiNode desktop(atspi_get_desktop(0));
  if (!desktop) return names;
  for (int i = 0, n = desktop.ChildCount(); i < n; ++i) names.push_back(desktop.Child(i).Name());
  return names;
}

}  // namespace testing_support
