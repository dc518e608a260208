"""`orvik` Python module."""

from types import TracebackType
from typing import Literal, final

__version__: str
__all__ = ["__version__", "Client", "CapInfo", "SessionInfo", "AuthMethod"]

@final
class AuthMethod:
    """One advertised authentication method."""

    @property
    def kind(self) -> str:
        """Method kind (e.g. anonymous, guest, password)."""
    @property
    def label(self) -> str:
        """Human-readable label."""
    @property
    def profile_hints(self) -> list[str]:
        """Profile hints the server offers for this method."""
    @property
    def interactive(self) -> bool:
        """Whether the method needs interactive input."""
    @property
    def enabled(self) -> bool:
        """Whether the method is currently enabled."""

@final
class SessionInfo:
    """Metadata describing an authenticated remote session."""

    @property
    def profile(self) -> str:
        """Granted profile name."""
    @property
    def principal_kind(self) -> str:
        """Principal kind (e.g. anonymous, guest, account)."""
    @property
    def principal_display_name(self) -> str:
        """Human-readable principal name."""
    @property
    def auth_strength(self) -> str:
        """Authentication strength label."""
    @property
    def session_id_hex(self) -> str:
        """Hex-encoded session id."""
    @property
    def expires_at_ms(self) -> int:
        """Session expiry in milliseconds since the orvik boot clock base."""

@final
class CapInfo:
    """One forwarded capability in a remote session's CapSet."""

    @property
    def name(self) -> str:
        """CapSet entry name."""
    @property
    def interface_id(self) -> int:
        """Cap'n Proto interface id of the forwarded capability."""
    @property
    def transfer_policy(self) -> str:
        """Transfer policy the server attached to this entry."""
    @property
    def lease_expires_at_ms(self) -> int:
        """Lease expiry in milliseconds since the orvik boot clock base."""

@final
class Client:
    """Host-side client for a running orvik remote session.

    Construct it to connect the TCP transport, then authenticate with one of the
    `login_*` methods before listing the CapSet or reading session metadata.
    """

    def __new__(
        cls,
        host: str = ...,
        port: int = 2327,
        *,
        connect_deadline_ms: int = 10000,
        io_timeout_ms: int = 60000,
        connect_retry_interval_ms: int = 100,
    ) -> Client: ...
    def list_auth_methods(self) -> list[AuthMethod]:
        """List the authentication methods the server advertises."""
    def login_anonymous(self, profile: str = ...) -> SessionInfo:
        """Authenticate anonymously, requesting `profile`."""
    def login_guest(self, profile: str = ...) -> SessionInfo:
        """Authenticate as a guest, requesting `profile`."""
    def login_password(self, account_name: str, password: str, profile: str = ...) -> SessionInfo:
        """Authenticate with an account name and password proof, requesting `profile`."""
    def list_capset(self) -> list[CapInfo]:
        """List the capabilities forwarded into the current session's CapSet."""
    def get_capset_entry(self, name: str, expected_interface_id: int) -> CapInfo:
        """Fetch one CapSet entry by name, asserting its interface id."""
    def session_info(self) -> SessionInfo:
        """Read metadata for the current session."""
    def system_motd(self) -> str:
        """Read the system message-of-the-day banner."""
    def is_logged_out(self) -> bool:
        """Whether the session has been logged out."""
    def logout(self) -> None:
        """Log out and end the session."""
    def __enter__(self) -> Client: ...
    def __exit__(
        self,
        _exc_type: type[BaseException] | None = None,
        _exc_value: BaseException | None = None,
        _traceback: TracebackType | None = None,
    ) -> Literal[False]: ...
