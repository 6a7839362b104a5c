#include "Strings.h"

#include <QCoreApplication>
#include <QtGlobal>
#include <algorithm>
#include <iterator>
#include <vector>

namespace varnelo::desktop {
namespace {

struct Entry {
  int id;
  const char* text;
};

// Sorted by id (str() searches it). The windows add their entries here too.
constexpr Entry kTable[] = {
    {106, QT_TRANSLATE_NOOP("Strings", "登录失败")},
    {107, QT_TRANSLATE_NOOP("Strings", "正在同步数据...")},
    {110, QT_TRANSLATE_NOOP("Strings", "正在连接服务器...")},
    {111, QT_TRANSLATE_NOOP("Strings", "正在建立索引...")},
    {112, QT_TRANSLATE_NOOP("Strings", "同步完成")},
    {114, QT_TRANSLATE_NOOP("Strings", "等待用户登录...")},
    {115, QT_TRANSLATE_NOOP("Strings", "空闲中...")},
    {116, QT_TRANSLATE_NOOP("Strings", "登录失败,请检查您的用户名或密码!")},
    {119, QT_TRANSLATE_NOOP("Strings", "一般")},
    {120, QT_TRANSLATE_NOOP("Strings", "帐户")},
    {121, QT_TRANSLATE_NOOP("Strings", "高级")},
    {127, QT_TRANSLATE_NOOP("Strings", "程序初始化失败")},
    {128, QT_TRANSLATE_NOOP("Strings", "错误")},
    {129, QT_TRANSLATE_NOOP("Strings", "成功下载 %d 个文件")},
    {130, QT_TRANSLATE_NOOP("Strings", "成功上传 %d 个文件")},
    {131, QT_TRANSLATE_NOOP("Strings", "同步完成")},
    {133, QT_TRANSLATE_NOOP("Strings", "请选择Varnelo同步目录")},
    {134, QT_TRANSLATE_NOOP("Strings", "登录失败,请检查您的OAuth验证码!")},
    {137, QT_TRANSLATE_NOOP("Strings", "代理")},
    {139, QT_TRANSLATE_NOOP("Strings", "已使用%s容量中的%s")},
    {140, QT_TRANSLATE_NOOP("Strings", "将文件或目录发送到Varnelo网盘中选中的目录")},
    {141, QT_TRANSLATE_NOOP("Strings", "获取容量信息失败")},
    {142, QT_TRANSLATE_NOOP("Strings", "不能同步文件\"%s\": 空间不足")},
    {143, QT_TRANSLATE_NOOP("Strings", "空间不足")},
    {144, QT_TRANSLATE_NOOP("Strings", "第三方帐号(Google,etc.)")},
    {150, QT_TRANSLATE_NOOP("Strings", "第三方帐户登录初始化失败，请尝试输入用户名密码登录!")},
    {152, QT_TRANSLATE_NOOP("Strings", "Tolmar网盘")},
    {153, QT_TRANSLATE_NOOP("Strings", "进入Tolmar网盘")},
    {154, QT_TRANSLATE_NOOP("Strings", "升级中")},
    {155, QT_TRANSLATE_NOOP("Strings", "Varnelo网盘正在升级中，请稍等...")},
    {156, QT_TRANSLATE_NOOP("Strings", "Varnelo %s")},
    {157, QT_TRANSLATE_NOOP("Strings", "同步正在启动中...")},
    {158, QT_TRANSLATE_NOOP("Strings", "路径名错误")},
    {159, QT_TRANSLATE_NOOP("Strings",
                            "不能同步文件或目录\"%s\": 此路径名被忽略同步, "
                            "或者Windows不支持创建此路径名")},
    {160, QT_TRANSLATE_NOOP("Strings", "登录 Varnelo")},
    {161, QT_TRANSLATE_NOOP("Strings", "登录 Varnelo (OAuth)")},
    {166, QT_TRANSLATE_NOOP("Strings", "正在同步数据...\n下载速度为%s, 上传速度为%s")},
    {168, QT_TRANSLATE_NOOP("Strings", "暂停同步(&P)")},
    {169, QT_TRANSLATE_NOOP("Strings", "恢复同步(&R)")},
    {170, QT_TRANSLATE_NOOP("Strings", "找不到同步目录")},
    {171, QT_TRANSLATE_NOOP("Strings", "同步已暂停")},
    {172, QT_TRANSLATE_NOOP("Strings", "注册邮箱:")},
    {173, QT_TRANSLATE_NOOP("Strings", "Tolmar通行证:")},
    {174, QT_TRANSLATE_NOOP("Strings", "Google帐号:")},
    {177,
     QT_TRANSLATE_NOOP("Strings",
                       "您的同步目录不见了，点击\"确定\"则重新创建此目录，否则选择其它同步目录\n"
                       "    %s")},
    {178, QT_TRANSLATE_NOOP("Strings", "如果您什么都不做，您的电脑将在 %d 秒内自动关机。")},
    {179, QT_TRANSLATE_NOOP("Strings", "Tolmar通行证")},
    {180, QT_TRANSLATE_NOOP("Strings", "Varnelo帐号")},
    {181, QT_TRANSLATE_NOOP("Strings", "Tolmar通行证:")},
    {182, QT_TRANSLATE_NOOP("Strings", "用户名/Email:")},
    {185, QT_TRANSLATE_NOOP("Strings", "登录失败,请检查您的Tolmar通行证或密码!")},
    {186, QT_TRANSLATE_NOOP("Strings", "帐户未激活,请到注册邮箱查收激活邮件!")},
    {187, QT_TRANSLATE_NOOP("Strings", "连接服务器超时,请检查您的网络连接!")},
    {188, QT_TRANSLATE_NOOP("Strings", "连接服务器失败,请检查您的网络连接!")},
    {189, QT_TRANSLATE_NOOP("Strings", "连接服务器失败,请检查您的代理设置!")},
    {190, QT_TRANSLATE_NOOP("Strings", "解析服务器地址失败,请检查您的网络设置!")},
    {191, QT_TRANSLATE_NOOP("Strings", "请检查是否有文件正被编辑或者选择其他目录")},
    {192, QT_TRANSLATE_NOOP("Strings", "移动同步目录失败")},
    {193, QT_TRANSLATE_NOOP("Strings", "非法同步目录")},
    {194, QT_TRANSLATE_NOOP("Strings", "您选择的目录与原目录存在包含关系，请重新选择")},
    {195, QT_TRANSLATE_NOOP("Strings", "同步目录非空")},
    {196, QT_TRANSLATE_NOOP("Strings",
                            "您指定的以下同步目录不是空目录，确认覆盖里面的文件吗？\n    %s")},
    {197, QT_TRANSLATE_NOOP("Strings", "移动同步目录")},
    {198, QT_TRANSLATE_NOOP("Strings", "移动")},
    {199, QT_TRANSLATE_NOOP("Strings", "移动您要将同步目录移动到的地方，然后点击“确定”按钮")},
    {200, QT_TRANSLATE_NOOP("Strings", "您确认要将同步目录移动到以下目录吗？\n    %s")},
    {201, QT_TRANSLATE_NOOP("Strings", "创建同步目录失败，请重新指定!\n    %s")},
    {202, QT_TRANSLATE_NOOP("Strings", "不能使用相对路径作为同步目录，请重新指定!\n    %s")},
    // %s is the web site's host name.
    {203, QT_TRANSLATE_NOOP("Strings", "未绑定Varnelo，请到%s绑定")},
    {204, QT_TRANSLATE_NOOP("Strings", "帐户未注册，请先到%s注册")},
    {205, QT_TRANSLATE_NOOP("Strings", "下一步(&N) >")},
    {206, QT_TRANSLATE_NOOP("Strings", "完成")},
    {208, QT_TRANSLATE_NOOP("Strings", "解析代理地址失败,请检查您的代理设置!")},
    {209, QT_TRANSLATE_NOOP("Strings", "↓ %s %.1f%% %s")},
    {210, QT_TRANSLATE_NOOP("Strings", "带宽")},
    {211, QT_TRANSLATE_NOOP("Strings", "↑ %s %.1f%% %s")},
    {212, QT_TRANSLATE_NOOP("Strings", "↓ %s 正在检查文件变化...")},
    {213, QT_TRANSLATE_NOOP("Strings", "↑ %s 正在检查文件变化...")},
    {214, QT_TRANSLATE_NOOP("Strings", "客户端版本太旧了")},
    {215, QT_TRANSLATE_NOOP("Strings", "您运行的是旧版本的客户端，现已无法使用，请下载最新版本")},
    {216, QT_TRANSLATE_NOOP("Strings", "同步出错，稍后将自动重试")},
    {217, QT_TRANSLATE_NOOP("Strings", "同步文件已超出您的Varnelo空间上限")},
    {218, QT_TRANSLATE_NOOP("Strings", "有文件正在编辑，稍后将自动重试")},
    {219, QT_TRANSLATE_NOOP("Strings", "同步时网络传输出错，稍后将自动重试")},
    {220, QT_TRANSLATE_NOOP("Strings", "昵称:")},
    {221, QT_TRANSLATE_NOOP("Strings", "用户名:")},
    {222, QT_TRANSLATE_NOOP("Strings", "↓ %s %.1f%%")},
    {223, QT_TRANSLATE_NOOP("Strings", "↑ %s %.1f%%")},
    // Texts without a resource id: the application core's (10000-10099).
    {10000, QT_TRANSLATE_NOOP("Strings", "Varnelo同步完成")},
    {10001, QT_TRANSLATE_NOOP("Strings", "同步已完成，您确定要立即关机吗？")},
    {10002, QT_TRANSLATE_NOOP("Strings", "立即关机(S)")},
    {10003, QT_TRANSLATE_NOOP("Strings", "取消(&C)")},
    // %1 the other program, %2 its process id, %3 the data folder.
    {10004, QT_TRANSLATE_NOOP("Strings", "%1（进程 %2）正在使用数据目录 %3，请先退出它。")},
    {10005, QT_TRANSLATE_NOOP("Strings", "Varnelo已在运行")},
    // The windows' texts without a resource id (14000 and up); the tray
    // menu's items use their command ids.
    {14000, QT_TRANSLATE_NOOP("Strings", "帐号注册")},
    {14001, QT_TRANSLATE_NOOP("Strings", "忘记密码?")},
    {14002, QT_TRANSLATE_NOOP("Strings", "使用Google帐号登录")},
    {14003, QT_TRANSLATE_NOOP("Strings", "使用Tolmar通行证登录")},
    {14004, QT_TRANSLATE_NOOP("Strings", "输入通过Web得到的验证码:")},
    {14005, QT_TRANSLATE_NOOP("Strings", "高级设置(&A)")},
    {14006, QT_TRANSLATE_NOOP("Strings", "密码:")},
    {14007, QT_TRANSLATE_NOOP("Strings", "主机名:")},
    {14008, QT_TRANSLATE_NOOP("Strings", "帐号类型:")},
    {14009, QT_TRANSLATE_NOOP("Strings", "选择同步目录")},
    {14010, QT_TRANSLATE_NOOP("Strings", "Varnelo 将把此目录与您的网盘保持同步：")},
    {14011, QT_TRANSLATE_NOOP("Strings", "浏览(&B)...")},
    {14012, QT_TRANSLATE_NOOP("Strings", "Varnelo 设置向导")},
    {14013, QT_TRANSLATE_NOOP("Strings", "同步模式")},
    {14014, QT_TRANSLATE_NOOP("Strings", "选择性同步")},
    {14015, QT_TRANSLATE_NOOP("Strings", "上一步(&B)")},
    {14016, QT_TRANSLATE_NOOP("Strings", "取消")},
    {14100, QT_TRANSLATE_NOOP("Strings", "Varnelo 设置")},
    {14101, QT_TRANSLATE_NOOP("Strings", "开机自动启动Varnelo(&S)")},
    {14102, QT_TRANSLATE_NOOP("Strings", "允许弹出托盘消息(&N)")},
    {14103, QT_TRANSLATE_NOOP("Strings", "启用 HTTPS 数据传输(&T)")},
    {14104, QT_TRANSLATE_NOOP("Strings",
                              "启用 HTTPS 数据传输后，客户端与服务器传输数据时会更安全，"
                              "但是启用此设置可能会使 Varnelo 的同步速度变慢。")},
    {14105, QT_TRANSLATE_NOOP("Strings", "本机关联帐户信息")},
    {14106, QT_TRANSLATE_NOOP("Strings", "主机名:")},
    {14107, QT_TRANSLATE_NOOP("Strings", "断开关联帐户(&U)")},
    {14108, QT_TRANSLATE_NOOP("Strings", "不使用代理(&N)")},
    {14109, QT_TRANSLATE_NOOP("Strings", "使用Internet Explorer的代理设置(I)")},
    {14110, QT_TRANSLATE_NOOP("Strings", "定义代理设置(M)")},
    {14111, QT_TRANSLATE_NOOP("Strings", "代理服务器需要用户名密码(&R)")},
    {14112, QT_TRANSLATE_NOOP("Strings", "类型:")},
    {14113, QT_TRANSLATE_NOOP("Strings", "地址:")},
    {14114, QT_TRANSLATE_NOOP("Strings", "端口:")},
    {14115, QT_TRANSLATE_NOOP("Strings", "用户名:")},
    {14116, QT_TRANSLATE_NOOP("Strings", "密码:")},
    {14117, QT_TRANSLATE_NOOP("Strings", "不限制上传速度")},
    {14118, QT_TRANSLATE_NOOP("Strings", "上传速度设置为:")},
    {14119, QT_TRANSLATE_NOOP("Strings", "不限制下载速度")},
    {14120, QT_TRANSLATE_NOOP("Strings", "下载速度设置为:")},
    {14121, QT_TRANSLATE_NOOP("Strings", "KB/s")},
    {14122, QT_TRANSLATE_NOOP("Strings", "上传速度")},
    {14123, QT_TRANSLATE_NOOP("Strings", "下载速度")},
    {14124, QT_TRANSLATE_NOOP("Strings", "同步目录位置")},
    {14125, QT_TRANSLATE_NOOP("Strings", "更改(&C)...")},
    {14126, QT_TRANSLATE_NOOP("Strings", "选择(&S)...")},
    {14127, QT_TRANSLATE_NOOP("Strings", "双向同步(&A)")},
    {14128, QT_TRANSLATE_NOOP("Strings", "只上传不下载(&U)")},
    {14129, QT_TRANSLATE_NOOP("Strings", "选择性同步")},
    {14130, QT_TRANSLATE_NOOP("Strings", "Varnelo 只同步选中的目录：")},
    {14131, QT_TRANSLATE_NOOP("Strings", "Varnelo")},
    {14132, QT_TRANSLATE_NOOP("Strings", "同步模式")},
    {14133, QT_TRANSLATE_NOOP("Strings", "正在复制文件...")},
    {14134, QT_TRANSLATE_NOOP("Strings", "确定")},
    {14135, QT_TRANSLATE_NOOP("Strings", "取消")},
    {14136, QT_TRANSLATE_NOOP("Strings", "应用(&A)")},
    {14137, QT_TRANSLATE_NOOP("Strings", "代理服务器")},
    {14200, QT_TRANSLATE_NOOP("Strings", "同步目录不可用，同步已暂停")},
    {14201, QT_TRANSLATE_NOOP("Strings",
                              "同步目录\"%s\"不可用（可能所在磁盘未挂载或目录已被移走），"
                              "Varnelo 不会删除任何文件，目录恢复后将自动继续同步")},
    {14202, QT_TRANSLATE_NOOP("Strings", "有删除操作等待您确认")},
    {14203, QT_TRANSLATE_NOOP("Strings",
                              "本次同步将删除大量文件，Varnelo 已暂缓这些删除，请确认后再继续")},
    {14204, QT_TRANSLATE_NOOP("Strings", "无法监视同步目录的变化，将定期扫描")},
    {14205, QT_TRANSLATE_NOOP("Strings",
                              "系统的文件监视数量已达上限，Varnelo 将定期扫描同步目录以发现变化")},
    {14206, QT_TRANSLATE_NOOP("Strings", "确认删除")},
    {14207,
     QT_TRANSLATE_NOOP("Strings", "本次同步将删除以下 %d 个文件或目录。确认删除，还是保留它们？")},
    {14208, QT_TRANSLATE_NOOP("Strings", "删除(&D)")},
    {14209, QT_TRANSLATE_NOOP("Strings", "保留(&K)")},
    {14210, QT_TRANSLATE_NOOP("Strings", "本地删除，将从网盘删除")},
    {14211, QT_TRANSLATE_NOOP("Strings", "网盘删除，将从本地删除")},
    {14212, QT_TRANSLATE_NOOP("Strings", "查看暂缓的删除(&V)...")},
    {14213, QT_TRANSLATE_NOOP("Strings", "路径")},
    {14214, QT_TRANSLATE_NOOP("Strings", "操作")},
    {14215, QT_TRANSLATE_NOOP("Strings", "使用现在的同步目录继续同步(&C)...")},
    {14216, QT_TRANSLATE_NOOP("Strings", "继续同步")},
    {14217, QT_TRANSLATE_NOOP("Strings",
                              "同步目录\"%s\"已不是之前同步的那个目录（例如被替换或从备份恢复）。"
                              "Varnelo 将把它与网盘完整比较一次，不会删除任何文件。继续吗？")},
    {14218, QT_TRANSLATE_NOOP("Strings", "无法打开同步记录，同步未开始")},
    {14219, QT_TRANSLATE_NOOP("Strings",
                              "Varnelo 无法打开它的同步记录\"%s\"（可能磁盘已满、只读或没有权限）。"
                              "在此之前不会同步或删除任何文件；问题解决后请重新启动 Varnelo")},
    {14220, QT_TRANSLATE_NOOP("Strings", "%s（%d 个文件）")},
    {14221, QT_TRANSLATE_NOOP("Strings",
                              "保留：本地删除的文件将从网盘重新下载，网盘删除的文件将重新上传。")},
    {14300,
     QT_TRANSLATE_NOOP("Strings",
                       "未找到系统托盘，Varnelo 的图标无法显示。要在顶栏中显示它，请安装 GNOME "
                       "扩展\u201cAppIndicator and KStatusNotifierItem Support\u201d（Debian "
                       "软件包 gnome-shell-extension-appindicator），然后重新登录。")},
    {14301, QT_TRANSLATE_NOOP("Strings", "菜单(&M)")},
    {14302, QT_TRANSLATE_NOOP("Strings", "请输入主机名：它是本机在您帐户中的名称，不能为空")},
    {14303, QT_TRANSLATE_NOOP("Strings", "请输入代理服务器地址，或选择不使用代理")},
    {14304, QT_TRANSLATE_NOOP("Strings", "不能使用系统目录作为同步目录，请重新指定!\n    %s")},
    {14305,
     QT_TRANSLATE_NOOP("Strings", "不能使用主目录本身作为同步目录，请在其中指定一个目录!\n    %s")},
    {32771, QT_TRANSLATE_NOOP("Strings", "打开Varnelo主页(&W)")},
    {32774, QT_TRANSLATE_NOOP("Strings", "暂停同步(&P)")},
    {32775, QT_TRANSLATE_NOOP("Strings", "帮助(&H)")},
    {32778, QT_TRANSLATE_NOOP("Strings", "退出(&X)")},
    {32783, QT_TRANSLATE_NOOP("Strings", "打开Varnelo文件夹(&O)")},
    {32785, QT_TRANSLATE_NOOP("Strings", "设置(&S)")},
    {32791, QT_TRANSLATE_NOOP("Strings", "关于(&A)")},
    {32797, QT_TRANSLATE_NOOP("Strings", "意见反馈(&F)")},
    {32798, QT_TRANSLATE_NOOP("Strings", "同步完成后关机(&U)")},
    {32799, QT_TRANSLATE_NOOP("Strings", "获取更多空间(&M)")},
};

constexpr bool sortedById() {
  for (size_t i = 1; i < std::size(kTable); ++i) {
    if (kTable[i - 1].id >= kTable[i].id) return false;
  }
  return true;
}
static_assert(sortedById(), "the string table must stay sorted by id, without duplicates");

const Entry* find(int id) {
  auto it = std::lower_bound(std::begin(kTable), std::end(kTable), id,
                             [](const Entry& e, int key) { return e.id < key; });
  return it != std::end(kTable) && it->id == id ? it : nullptr;
}

}  // namespace

QString str(int id) {
  const Entry* e = find(id);
  if (!e) {
    qWarning("string table: no text for id %d", id);
    return QString();
  }
  return QCoreApplication::translate("Strings", e->text);
}

std::vector<int> allStringIds() {
  std::vector<int> ids;
  ids.reserve(std::size(kTable));
  for (const Entry& e : kTable) ids.push_back(e.id);
  return ids;
}

const char* sourceText(int id) {
  const Entry* e = find(id);
  return e ? e->text : nullptr;
}

}  // namespace varnelo::desktop
