// Every text the plug-in shows the user, in one place (Shift-JIS once compiled).
// Texts that several commands show are spelled once here.
#pragma once

// The plug-in's name, as the information record, the setup dialog and the
// "X-SMIME-Plugin" header give it.
inline constexpr char PLUGIN_NAME[] = "Zandrel S/MIME Plug-in";
inline constexpr char PLUGIN_VENDOR[] = "Zandrel S/MIME Plug-in Developers";
inline constexpr char PLUGIN_DESCRIPTION[] = "Enables Zandrel to use S/MIME";
// "v0.9.2 build at " and the build's date and time.
extern const char PLUGIN_VERSION[];

// Captions.
inline constexpr char TEXT_MESSAGE_CAPTION[] = "メッセージ";
inline constexpr char TEXT_NOTICE_CAPTION[] = "NOTICE!";
inline constexpr char TEXT_ERROR_CAPTION[] = "Error";
inline constexpr char TEXT_BCC_CAPTION[] = "Bccが設定されています";

// Menu items and the descriptions registered with them.
inline constexpr char TEXT_MENU_DECRYPT_VERIFY[] = "S/MIME 復号/検証";
inline constexpr char TEXT_MENU_DECRYPT_VERIFY_DESCRIPTION[] = "S/MIMEメッセージの復号と検証";
inline constexpr char TEXT_MENU_SETUP[] = "S/MIME 設定";
inline constexpr char TEXT_MENU_SETUP_DESCRIPTION[] = "S/MIMEPlug-inの設定";
inline constexpr char TEXT_MENU_ENCRYPT[] = "S/MIME 暗号化";
inline constexpr char TEXT_MENU_ENCRYPT_DESCRIPTION[] = "メッセージをS/MIMEで暗号化";
inline constexpr char TEXT_MENU_SIGN[] = "S/MIME 署名";
inline constexpr char TEXT_MENU_SIGN_DESCRIPTION[] = "メッセージにS/MIMEで電子署名";
inline constexpr char TEXT_MENU_SIGN_ENCRYPT[] = "S/MIME 暗号化+署名";
inline constexpr char TEXT_MENU_SIGN_ENCRYPT_DESCRIPTION[] = "メッセージにS/MIMEで暗号化+電子署名";

// Opening a received S/MIME message.
inline constexpr char TEXT_SMIME_NOTICE[] =
    "これはS/MIMEのメッセージです。ツール＞S/MIME 復号/検証を実行してください\n\n";
inline constexpr char TEXT_VERIFY_QUESTION[] = "このメッセージはS/MIMEメールです\n検証しますか?";

// The setup dialog.
inline constexpr char TEXT_FROM_ITEM[] = "From: ヘッダーを元に検索";
inline constexpr char TEXT_BEHAVIOR_AUTO_VERIFY[] = "メッセージ選択時に自動検証";
inline constexpr char TEXT_BEHAVIOR_POPUP[] = "メッセージ選択時にポップアップで通知";
inline constexpr char TEXT_BEHAVIOR_ADD_NOTICE[] =
    "メッセージに追加する形で通知 (ただしクリアテキスト署名されたメッセージの場合は何もしない)";
inline constexpr char TEXT_BEHAVIOR_NOTHING[] = "何もしない";
inline constexpr char TEXT_UNKNOWN_ENCRYPTION_ALGORITHM[] = "????? unknown encryption algorithm!";
inline constexpr char TEXT_CHOOSE_ENCRYPTION_ALGORITHM[] = "暗号化アルゴリズムを選んでください";
inline constexpr char TEXT_CHOOSE_HASH_ALGORITHM[] = "署名時ハッシュアルゴリズムを選んでください";
inline constexpr char TEXT_SETTINGS_PATH_TOO_LONG[] =
    "プラグインのパスが長すぎるため、設定を保存できません (260 バイトまで)";
// wsprintfA format: the settings file's path.
inline constexpr char TEXT_SETTINGS_NOT_WRITTEN[] = "設定ファイルに書き込めません。設定は変更されていません\n%s";

// Failures that several commands share.
inline constexpr char TEXT_NO_SOURCE[] = "メッセージが取得できません";
inline constexpr char TEXT_STORE_NOT_OPENED[] = "ルート証明書ストアを開けません";
inline constexpr char TEXT_NO_OWN_CERT[] = "あなたの証明書がストア中にありません";
inline constexpr char TEXT_NO_SUBJECT[] = "証明書のサブジェクトが取得できません";
inline constexpr char TEXT_ENCODING_FAILED[] = "メッセージのエンコードに失敗しました";
inline constexpr char TEXT_OUT_OF_MEMORY[] = "メモリが不足しているため処理を中止しました";
inline constexpr char TEXT_ALLOCATION_ERROR[] = "メモリアロケーションエラー";
inline constexpr char TEXT_CLOSE_STORE_NOTICE[] = "CertCloseStore returns with some notice";
inline constexpr char TEXT_CLOSE_CA_STORE_NOTICE[] = "CertCloseStore(recipient) returns with some notice";
inline constexpr char TEXT_CLOSE_ROOT_STORE_NOTICE[] = "CertCloseStore(Root) returns with some notice";
// Written to standard output (printf) with the close's result.
inline constexpr char TEXT_CLOSE_STORE_RESULT[] = "CertCloseStore returns %d \n";

// Marks of a good and a bad finding in the reports.
inline constexpr char TEXT_GOOD_MARK[] = "OOOOO ";
inline constexpr char TEXT_BAD_MARK[] = "!!!!!!!!!!!!! ";

// Report labels.
inline constexpr char TEXT_SIGNER[] = "署名者";
inline constexpr char TEXT_RECIPIENTS[] = "復号可能な受信者";

// Outgoing commands.
inline constexpr char TEXT_BCC_QUESTION[] =
    "Bcc宛の通信も暗号化が可能ですが\n理論上、受信者全員がBccの宛先を知ることができます\n構いませんか?\n\n"
    "「はい」を選択した場合は処理を続行します（Bcc宛にも暗号化を行います）\n"
    "「いいえ」を選択した場合は処理を中止します";
inline constexpr char TEXT_TOO_MANY_RECIPIENTS[] = "受信者数が多すぎます";
inline constexpr char TEXT_NO_RECIPIENT_CERT[] = "送信先の証明書がストア中にありません";
inline constexpr char TEXT_UNKNOWN_ALGORITHM[] = "指定されたアルゴリズムはサポートされていません";
inline constexpr char TEXT_ENCRYPTION_FAILED[] = "暗号失敗";
inline constexpr char TEXT_SIGN_SIZE_FAILED[] = "Getting signed blob size failed";
inline constexpr char TEXT_SIGN_ALLOCATION_FAILED[] = "Memory allocation error while signing.";
inline constexpr char TEXT_SIGN_FAILED[] = "Error getting signed blob";
// A To, Cc, Bcc or From value too long to be read whole.
inline constexpr char TEXT_RECIPIENT_HEADER_TOO_LONG[] = "宛先ヘッダーが長すぎます";
inline constexpr char TEXT_SENDER_HEADER_TOO_LONG[] = "差出人ヘッダーが長すぎます";

// Incoming: classification, Base64, decryption, verification, the trust check.
// wsprintfA format: the bad mark, the encoding's name, and a blank after a name.
inline constexpr char TEXT_UNSUPPORTED_ENCODING[] =
    "%sZandrel S/MIME Plug-inでは Content-Transfer-Encoding: %s%sをサポートしていません";
// wsprintfA format: the character's code, then the character.
inline constexpr char TEXT_FOREIGN_BASE64[] = "不正な文字[0x%02x] (%c)を検出しました";
inline constexpr char TEXT_DECODE_FAILED[] = "メッセージのデコードに失敗しました";
inline constexpr char TEXT_WRONG_MESSAGE_TYPE[] = "Wrong message type";
inline constexpr char TEXT_DECRYPTION_FAILED[] = "復号失敗";
inline constexpr char TEXT_VERIFICATION_FAILED[] = "署名検証失敗";
inline constexpr char TEXT_NOT_ADDED_TO_CA[] = "The certificate has NOT been added to \"Others\" certstore.";

// CMS inspection steps, named in the failure box.
inline constexpr char TEXT_CMS_OPEN_FAILED[] = "OpenToDecode failed";
inline constexpr char TEXT_CMS_UPDATE_FAILED[] = "Decode MsgUpdate failed";
inline constexpr char TEXT_CMS_TYPE_FAILED[] = "Decode CMSG_TYPE_PARAM failed 1st";
inline constexpr char TEXT_CMS_HASH_SIZE_FAILED[] = "Decode CMSG_HASH_ALGORITHM_PARAM failed 2nd 1";
inline constexpr char TEXT_CMS_HASH_FAILED[] = "Decode CMSG_ENVELOPE_ALGORITHM_PARAM failed 2nd 2";
inline constexpr char TEXT_CMS_CIPHER_SIZE_FAILED[] = "Decode CMSG_TYPE_PARAM failed 2nd 1";
inline constexpr char TEXT_CMS_CIPHER_FAILED[] = "Decode CMSG_TYPE_PARAM failed 2nd 2";
inline constexpr char TEXT_CMS_ALLOCATION_FAILED[] = "memory alloc error";

// The decrypt/verify report.
inline constexpr char TEXT_CANNOT_ANALYSE[] = "S/MIMEメッセージを解析できません";
inline constexpr char TEXT_ENCRYPTED[] = "このメッセージは暗号化されています";
inline constexpr char TEXT_ENCRYPTION_ALGORITHM[] = "暗号化アルゴリズム";
inline constexpr char TEXT_DECRYPTION_CERT[] = "復号に使った証明書";
inline constexpr char TEXT_SIGNED[] = "このメッセージは署名されています";
inline constexpr char TEXT_HASH_ALGORITHM[] = "署名時のハッシュアルゴリズム";
inline constexpr char TEXT_NOT_TAMPERED[] = "メッセージは改ざんされていません";
inline constexpr char TEXT_CERT_VALID[] = "証明書は有効です";
inline constexpr char TEXT_CERT_EXPIRED[] = "証明書の期限が切れています";
inline constexpr char TEXT_ISSUING_CA[] = "署名者を認証しているCA";
inline constexpr char TEXT_ISSUED_BY_VALID_CA[] = "証明書は有効なCAから発行されています";
inline constexpr char TEXT_NO_TRUSTED_ISSUER[] = "信頼できる証明書の発行者が見つかりません";
