<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
  <context>
    <name>Strings</name>
    <message>
      <source>Varnelo %s</source>
      <translation>Varnelo %s</translation>
    </message>
    <message>
      <source>打开Varnelo文件夹(&amp;O)</source>
      <translation>&amp;Open Varnelo folder</translation>
    </message>
    <message>
      <source>打开Varnelo主页(&amp;W)</source>
      <translation>Open Varnelo &amp;website</translation>
    </message>
    <message>
      <source>获取更多空间(&amp;M)</source>
      <translation>Get &amp;more space</translation>
    </message>
    <message>
      <source>暂停同步(&amp;P)</source>
      <translation>&amp;Pause sync</translation>
    </message>
    <message>
      <source>同步完成后关机(&amp;U)</source>
      <translation>Sh&amp;ut down when sync completes</translation>
    </message>
    <message>
      <source>设置(&amp;S)</source>
      <translation>&amp;Settings</translation>
    </message>
    <message>
      <source>关于(&amp;A)</source>
      <translation>&amp;About</translation>
    </message>
    <message>
      <source>帮助(&amp;H)</source>
      <translation>&amp;Help</translation>
    </message>
    <message>
      <source>意见反馈(&amp;F)</source>
      <translation>&amp;Feedback</translation>
    </message>
    <message>
      <source>退出(&amp;X)</source>
      <translation>E&amp;xit</translation>
    </message>
    <message>
      <source>恢复同步(&amp;R)</source>
      <translation>&amp;Resume sync</translation>
    </message>
    <message>
      <source>同步完成</source>
      <translation>Sync complete</translation>
    </message>
    <message>
      <source>成功上传 %d 个文件</source>
      <translation>Uploaded %d files</translation>
    </message>
    <message>
      <source>成功下载 %d 个文件</source>
      <translation>Downloaded %d files</translation>
    </message>
    <message>
      <source>等待用户登录...</source>
      <translation>Waiting for you to sign in...</translation>
    </message>
    <message>
      <source>正在连接服务器...</source>
      <translation>Connecting to the server...</translation>
    </message>
    <message>
      <source>同步正在启动中...</source>
      <translation>Sync is starting...</translation>
    </message>
    <message>
      <source>正在建立索引...</source>
      <translation>Building the index...</translation>
    </message>
    <message>
      <source>同步已暂停</source>
      <translation>Sync paused</translation>
    </message>
    <message>
      <source>客户端版本太旧了</source>
      <translation>This client is too old</translation>
    </message>
    <message>
      <source>您运行的是旧版本的客户端，现已无法使用，请下载最新版本</source>
      <translation>This version of the client can no longer be used. Please download the latest version.</translation>
    </message>
    <message>
      <source>有文件正在编辑，稍后将自动重试</source>
      <translation>A file is being edited; it will be retried automatically</translation>
    </message>
    <message>
      <source>同步文件已超出您的Varnelo空间上限</source>
      <translation>The synced files exceed your Varnelo storage space</translation>
    </message>
    <message>
      <source>同步时网络传输出错，稍后将自动重试</source>
      <translation>Network error during sync; it will be retried automatically</translation>
    </message>
    <message>
      <source>同步出错，稍后将自动重试</source>
      <translation>Sync error; it will be retried automatically</translation>
    </message>
    <message>
      <source>空闲中...</source>
      <translation>Idle...</translation>
    </message>
    <message>
      <source>↑ %s 正在检查文件变化...</source>
      <translation>↑ %s checking for changes...</translation>
    </message>
    <message>
      <source>↓ %s 正在检查文件变化...</source>
      <translation>↓ %s checking for changes...</translation>
    </message>
    <message>
      <source>↑ %s %.1f%% %s</source>
      <translation>↑ %s %.1f%% %s</translation>
    </message>
    <message>
      <source>↓ %s %.1f%% %s</source>
      <translation>↓ %s %.1f%% %s</translation>
    </message>
    <message>
      <source>↑ %s %.1f%%</source>
      <translation>↑ %s %.1f%%</translation>
    </message>
    <message>
      <source>↓ %s %.1f%%</source>
      <translation>↓ %s %.1f%%</translation>
    </message>
    <message>
      <source>正在同步数据...</source>
      <translation>Syncing data...</translation>
    </message>
    <message>
      <source>正在同步数据...
下载速度为%s, 上传速度为%s</source>
      <translation>Syncing data...
Download %s, upload %s</translation>
    </message>
    <message>
      <source>获取容量信息失败</source>
      <translation>Could not get the storage usage</translation>
    </message>
    <message>
      <source>已使用%s容量中的%s</source>
      <translation>Space %s, used %s</translation>
    </message>
    <message>
      <source>路径名错误</source>
      <translation>Bad path name</translation>
    </message>
    <message>
      <source>不能同步文件或目录"%s": 此路径名被忽略同步, 或者Windows不支持创建此路径名</source>
      <translation>Cannot sync "%s": the name is excluded from sync or cannot be created on this system</translation>
    </message>
    <message>
      <source>空间不足</source>
      <translation>Not enough space</translation>
    </message>
    <message>
      <source>不能同步文件"%s": 空间不足</source>
      <translation>Cannot sync "%s": not enough space</translation>
    </message>
    <message>
      <source>Tolmar通行证</source>
      <translation>Tolmar Passport</translation>
    </message>
    <message>
      <source>Varnelo帐号</source>
      <translation>Varnelo account</translation>
    </message>
    <message>
      <source>第三方帐号(Google,etc.)</source>
      <translation>Other account (Google, etc.)</translation>
    </message>
    <message>
      <source>Tolmar通行证:</source>
      <translation>Tolmar Passport:</translation>
    </message>
    <message>
      <source>用户名/Email:</source>
      <translation>User name/Email:</translation>
    </message>
    <message>
      <source>登录 Varnelo</source>
      <translation>Sign in to Varnelo</translation>
    </message>
    <message>
      <source>登录 Varnelo (OAuth)</source>
      <translation>Sign in to Varnelo (OAuth)</translation>
    </message>
    <message>
      <source>登录失败</source>
      <translation>Sign-in failed</translation>
    </message>
    <message>
      <source>第三方帐户登录初始化失败，请尝试输入用户名密码登录!</source>
      <translation>Could not start the sign-in with another account. Please sign in with your user name and password!</translation>
    </message>
    <message>
      <source>登录失败,请检查您的OAuth验证码!</source>
      <translation>Sign-in failed. Please check your OAuth verification code!</translation>
    </message>
    <message>
      <source>登录失败,请检查您的Tolmar通行证或密码!</source>
      <translation>Sign-in failed. Please check your Tolmar Passport or password!</translation>
    </message>
    <message>
      <source>登录失败,请检查您的用户名或密码!</source>
      <translation>Sign-in failed. Please check your user name or password!</translation>
    </message>
    <message>
      <source>解析代理地址失败,请检查您的代理设置!</source>
      <translation>Cannot resolve the proxy address. Please check your proxy settings!</translation>
    </message>
    <message>
      <source>连接服务器失败,请检查您的代理设置!</source>
      <translation>Cannot connect to the server. Please check your proxy settings!</translation>
    </message>
    <message>
      <source>解析服务器地址失败,请检查您的网络设置!</source>
      <translation>Cannot resolve the server address. Please check your network settings!</translation>
    </message>
    <message>
      <source>连接服务器失败,请检查您的网络连接!</source>
      <translation>Cannot connect to the server. Please check your network connection!</translation>
    </message>
    <message>
      <source>连接服务器超时,请检查您的网络连接!</source>
      <translation>Connecting to the server timed out. Please check your network connection!</translation>
    </message>
    <message>
      <source>未绑定Varnelo，请到%s绑定</source>
      <translation>Not linked to Varnelo. Please link it at %s</translation>
    </message>
    <message>
      <source>帐户未注册，请先到%s注册</source>
      <translation>This account is not registered. Please register at %s first</translation>
    </message>
    <message>
      <source>帐户未激活,请到注册邮箱查收激活邮件!</source>
      <translation>This account is not activated. Please look for the activation mail in your registered mailbox!</translation>
    </message>
    <message>
      <source>完成</source>
      <translation>Finish</translation>
    </message>
    <message>
      <source>下一步(&amp;N) &gt;</source>
      <translation>&amp;Next &gt;</translation>
    </message>
    <message>
      <source>不能使用相对路径作为同步目录，请重新指定!
    %s</source>
      <translation>A relative path cannot be the sync folder. Please choose another!
    %s</translation>
    </message>
    <message>
      <source>创建同步目录失败，请重新指定!
    %s</source>
      <translation>Cannot create the sync folder. Please choose another!
    %s</translation>
    </message>
    <message>
      <source>找不到同步目录</source>
      <translation>Sync folder not found</translation>
    </message>
    <message>
      <source>您的同步目录不见了，点击"确定"则重新创建此目录，否则选择其它同步目录
    %s</source>
      <translation>Your sync folder is gone. Click "OK" to create it again, or choose another sync folder
    %s</translation>
    </message>
    <message>
      <source>请选择Varnelo同步目录</source>
      <translation>Choose the Varnelo sync folder</translation>
    </message>
    <message>
      <source>帐号注册</source>
      <translation>Register</translation>
    </message>
    <message>
      <source>忘记密码?</source>
      <translation>Forgot password?</translation>
    </message>
    <message>
      <source>使用Google帐号登录</source>
      <translation>Sign in with Google</translation>
    </message>
    <message>
      <source>使用Tolmar通行证登录</source>
      <translation>Sign in with Tolmar Passport</translation>
    </message>
    <message>
      <source>输入通过Web得到的验证码:</source>
      <translation>Enter the verification code from the web page:</translation>
    </message>
    <message>
      <source>高级设置(&amp;A)</source>
      <translation>&amp;Advanced settings</translation>
    </message>
    <message>
      <source>密码:</source>
      <translation>Password:</translation>
    </message>
    <message>
      <source>主机名:</source>
      <translation>Computer name:</translation>
    </message>
    <message>
      <source>帐号类型:</source>
      <translation>Account type:</translation>
    </message>
    <message>
      <source>选择同步目录</source>
      <translation>Choose the sync folder</translation>
    </message>
    <message>
      <source>Varnelo 将把此目录与您的网盘保持同步：</source>
      <translation>Varnelo keeps this folder in sync with your online storage:</translation>
    </message>
    <message>
      <source>浏览(&amp;B)...</source>
      <translation>&amp;Browse...</translation>
    </message>
    <message>
      <source>Varnelo 设置向导</source>
      <translation>Varnelo setup</translation>
    </message>
    <message>
      <source>同步模式</source>
      <translation>Sync mode</translation>
    </message>
    <message>
      <source>选择性同步</source>
      <translation>Selective sync</translation>
    </message>
    <message>
      <source>上一步(&amp;B)</source>
      <translation>&lt; &amp;Back</translation>
    </message>
    <message>
      <source>取消</source>
      <translation>Cancel</translation>
    </message>
    <message>
      <source>一般</source>
      <translation>General</translation>
    </message>
    <message>
      <source>帐户</source>
      <translation>Account</translation>
    </message>
    <message>
      <source>代理</source>
      <translation>Proxy</translation>
    </message>
    <message>
      <source>带宽</source>
      <translation>Bandwidth</translation>
    </message>
    <message>
      <source>高级</source>
      <translation>Advanced</translation>
    </message>
    <message>
      <source>用户名:</source>
      <translation>User name:</translation>
    </message>
    <message>
      <source>Google帐号:</source>
      <translation>Google account:</translation>
    </message>
    <message>
      <source>昵称:</source>
      <translation>Nickname:</translation>
    </message>
    <message>
      <source>注册邮箱:</source>
      <translation>Registered email:</translation>
    </message>
    <message>
      <source>移动同步目录</source>
      <translation>Move the sync folder</translation>
    </message>
    <message>
      <source>移动您要将同步目录移动到的地方，然后点击“确定”按钮</source>
      <translation>Choose where to move the sync folder, then click "OK"</translation>
    </message>
    <message>
      <source>移动</source>
      <translation>Move</translation>
    </message>
    <message>
      <source>非法同步目录</source>
      <translation>Invalid sync folder</translation>
    </message>
    <message>
      <source>您选择的目录与原目录存在包含关系，请重新选择</source>
      <translation>The chosen folder contains or is inside the current one. Please choose another</translation>
    </message>
    <message>
      <source>您确认要将同步目录移动到以下目录吗？
    %s</source>
      <translation>Move the sync folder to this folder?
    %s</translation>
    </message>
    <message>
      <source>同步目录非空</source>
      <translation>Folder not empty</translation>
    </message>
    <message>
      <source>您指定的以下同步目录不是空目录，确认覆盖里面的文件吗？
    %s</source>
      <translation>This folder is not empty. Overwrite the files in it?
    %s</translation>
    </message>
    <message>
      <source>移动同步目录失败</source>
      <translation>Moving the sync folder failed</translation>
    </message>
    <message>
      <source>请检查是否有文件正被编辑或者选择其他目录</source>
      <translation>Check whether files are being edited, or choose another folder</translation>
    </message>
    <message>
      <source>Varnelo 设置</source>
      <translation>Varnelo settings</translation>
    </message>
    <message>
      <source>开机自动启动Varnelo(&amp;S)</source>
      <translation>&amp;Start Varnelo when I log in</translation>
    </message>
    <message>
      <source>允许弹出托盘消息(&amp;N)</source>
      <translation>Show tray &amp;notifications</translation>
    </message>
    <message>
      <source>启用 HTTPS 数据传输(&amp;T)</source>
      <translation>Use HT&amp;TPS for transfers</translation>
    </message>
    <message>
      <source>启用 HTTPS 数据传输后，客户端与服务器传输数据时会更安全，但是启用此设置可能会使 Varnelo 的同步速度变慢。</source>
      <translation>With HTTPS, data between this computer and the server is better protected, but Varnelo may sync more slowly.</translation>
    </message>
    <message>
      <source>本机关联帐户信息</source>
      <translation>Account linked to this computer</translation>
    </message>
    <message>
      <source>断开关联帐户(&amp;U)</source>
      <translation>&amp;Unlink account</translation>
    </message>
    <message>
      <source>不使用代理(&amp;N)</source>
      <translation>&amp;No proxy</translation>
    </message>
    <message>
      <source>使用Internet Explorer的代理设置(I)</source>
      <translation>Use the system proxy settings (&amp;I)</translation>
    </message>
    <message>
      <source>定义代理设置(M)</source>
      <translation>&amp;Manual proxy settings</translation>
    </message>
    <message>
      <source>代理服务器需要用户名密码(&amp;R)</source>
      <translation>The proxy &amp;requires a user name and password</translation>
    </message>
    <message>
      <source>类型:</source>
      <translation>Type:</translation>
    </message>
    <message>
      <source>地址:</source>
      <translation>Address:</translation>
    </message>
    <message>
      <source>端口:</source>
      <translation>Port:</translation>
    </message>
    <message>
      <source>不限制上传速度</source>
      <translation>Do not limit the upload speed</translation>
    </message>
    <message>
      <source>上传速度设置为:</source>
      <translation>Limit the upload speed to:</translation>
    </message>
    <message>
      <source>不限制下载速度</source>
      <translation>Do not limit the download speed</translation>
    </message>
    <message>
      <source>下载速度设置为:</source>
      <translation>Limit the download speed to:</translation>
    </message>
    <message>
      <source>KB/s</source>
      <translation>KB/s</translation>
    </message>
    <message>
      <source>上传速度</source>
      <translation>Upload speed</translation>
    </message>
    <message>
      <source>下载速度</source>
      <translation>Download speed</translation>
    </message>
    <message>
      <source>同步目录位置</source>
      <translation>Sync folder location</translation>
    </message>
    <message>
      <source>更改(&amp;C)...</source>
      <translation>&amp;Change...</translation>
    </message>
    <message>
      <source>选择(&amp;S)...</source>
      <translation>&amp;Select...</translation>
    </message>
    <message>
      <source>双向同步(&amp;A)</source>
      <translation>&amp;Two-way sync</translation>
    </message>
    <message>
      <source>只上传不下载(&amp;U)</source>
      <translation>&amp;Upload only, never download</translation>
    </message>
    <message>
      <source>Varnelo 只同步选中的目录：</source>
      <translation>Varnelo syncs only the checked folders:</translation>
    </message>
    <message>
      <source>Varnelo</source>
      <translation>Varnelo</translation>
    </message>
    <message>
      <source>正在复制文件...</source>
      <translation>Copying files...</translation>
    </message>
    <message>
      <source>确定</source>
      <translation>OK</translation>
    </message>
    <message>
      <source>应用(&amp;A)</source>
      <translation>&amp;Apply</translation>
    </message>
    <message>
      <source>代理服务器</source>
      <translation>Proxy server</translation>
    </message>
    <message>
      <source>同步目录不可用，同步已暂停</source>
      <translation>Sync folder unavailable; sync is waiting</translation>
    </message>
    <message>
      <source>同步目录"%s"不可用（可能所在磁盘未挂载或目录已被移走），Varnelo 不会删除任何文件，目录恢复后将自动继续同步</source>
      <translation>The sync folder "%s" is unavailable (its disk may be unmounted or the folder moved). Varnelo deletes nothing and goes on once the folder is back</translation>
    </message>
    <message>
      <source>有删除操作等待您确认</source>
      <translation>Deletions are waiting for your confirmation</translation>
    </message>
    <message>
      <source>本次同步将删除大量文件，Varnelo 已暂缓这些删除，请确认后再继续</source>
      <translation>This sync would delete many files. Varnelo is holding these deletions until you confirm them</translation>
    </message>
    <message>
      <source>无法监视同步目录的变化，将定期扫描</source>
      <translation>Cannot watch the sync folder; it is scanned regularly instead</translation>
    </message>
    <message>
      <source>系统的文件监视数量已达上限，Varnelo 将定期扫描同步目录以发现变化</source>
      <translation>The system's limit of watched folders is reached. Varnelo scans the sync folder regularly to find changes</translation>
    </message>
    <message>
      <source>确认删除</source>
      <translation>Confirm deletions</translation>
    </message>
    <message>
      <source>本次同步将删除以下 %d 个文件或目录。确认删除，还是保留它们？</source>
      <translation>This sync would delete the following %d files or folders. Delete them, or keep them?</translation>
    </message>
    <message>
      <source>删除(&amp;D)</source>
      <translation>&amp;Delete</translation>
    </message>
    <message>
      <source>保留(&amp;K)</source>
      <translation>&amp;Keep</translation>
    </message>
    <message>
      <source>本地删除，将从网盘删除</source>
      <translation>Deleted here; will be deleted online</translation>
    </message>
    <message>
      <source>网盘删除，将从本地删除</source>
      <translation>Deleted online; will be deleted here</translation>
    </message>
    <message>
      <source>查看暂缓的删除(&amp;V)...</source>
      <translation>&amp;View held deletions...</translation>
    </message>
    <message>
      <source>路径</source>
      <translation>Path</translation>
    </message>
    <message>
      <source>操作</source>
      <translation>Action</translation>
    </message>
    <message>
      <source>Tolmar网盘</source>
      <translation>Tolmar Disk</translation>
    </message>
    <message>
      <source>进入Tolmar网盘</source>
      <translation>Open Tolmar Disk</translation>
    </message>
    <message>
      <source>程序初始化失败</source>
      <translation>The program could not start</translation>
    </message>
    <message>
      <source>错误</source>
      <translation>Error</translation>
    </message>
    <message>
      <source>将文件或目录发送到Varnelo网盘中选中的目录</source>
      <translation>Send the files or folders to the chosen folder of your Varnelo disk</translation>
    </message>
    <message>
      <source>升级中</source>
      <translation>Upgrading</translation>
    </message>
    <message>
      <source>Varnelo网盘正在升级中，请稍等...</source>
      <translation>Varnelo is being upgraded, please wait...</translation>
    </message>
    <message>
      <source>如果您什么都不做，您的电脑将在 %d 秒内自动关机。</source>
      <translation>If you do nothing, your computer shuts down in %d seconds.</translation>
    </message>
    <message>
      <source>Varnelo同步完成</source>
      <translation>Varnelo sync complete</translation>
    </message>
    <message>
      <source>同步已完成，您确定要立即关机吗？</source>
      <translation>Sync is complete. Shut down now?</translation>
    </message>
    <message>
      <source>立即关机(S)</source>
      <translation>&amp;Shut down now</translation>
    </message>
    <message>
      <source>取消(&amp;C)</source>
      <translation>&amp;Cancel</translation>
    </message>
    <message>
      <source>%1（进程 %2）正在使用数据目录 %3，请先退出它。</source>
      <translation>%1 (process %2) is using the data folder %3. Please quit it first.</translation>
    </message>
    <message>
      <source>Varnelo已在运行</source>
      <translation>Varnelo is already running</translation>
    </message>
    <message>
      <source>使用现在的同步目录继续同步(&amp;C)...</source>
      <translation>&amp;Continue with the sync folder as it is now...</translation>
    </message>
    <message>
      <source>继续同步</source>
      <translation>Continue syncing</translation>
    </message>
    <message>
      <source>同步目录"%s"已不是之前同步的那个目录（例如被替换或从备份恢复）。Varnelo 将把它与网盘完整比较一次，不会删除任何文件。继续吗？</source>
      <translation>The sync folder "%s" is not the one synced before (it may have been replaced or restored from a backup). Varnelo will compare it once in full with your online storage and delete nothing. Continue?</translation>
    </message>
    <message>
      <source>无法打开同步记录，同步未开始</source>
      <translation>Cannot open the sync records; sync has not started</translation>
    </message>
    <message>
      <source>Varnelo 无法打开它的同步记录"%s"（可能磁盘已满、只读或没有权限）。在此之前不会同步或删除任何文件；问题解决后请重新启动 Varnelo</source>
      <translation>Varnelo cannot open its sync records "%s" (the disk may be full or read-only, or permission is missing). Nothing is synced or deleted until then; once the cause is mended, restart Varnelo</translation>
    </message>
    <message>
      <source>%s（%d 个文件）</source>
      <translation>%s (%d files)</translation>
    </message>
    <message>
      <source>保留：本地删除的文件将从网盘重新下载，网盘删除的文件将重新上传。</source>
      <translation>Keep: what was deleted here is downloaded again, and what was deleted online is uploaded again.</translation>
    </message>
    <message>
      <source>未找到系统托盘，Varnelo 的图标无法显示。要在顶栏中显示它，请安装 GNOME 扩展“AppIndicator and KStatusNotifierItem Support”（Debian 软件包 gnome-shell-extension-appindicator），然后重新登录。</source>
      <translation>No notification area (system tray) was found, so the Varnelo icon cannot be shown. To see it in the top bar, install the GNOME extension “AppIndicator and KStatusNotifierItem Support” (Debian package gnome-shell-extension-appindicator), then log in again.</translation>
    </message>
    <message>
      <source>菜单(&amp;M)</source>
      <translation>&amp;Menu</translation>
    </message>
    <message>
      <source>请输入主机名：它是本机在您帐户中的名称，不能为空</source>
      <translation>Please enter a host name: it is this computer's name in your account and cannot be empty</translation>
    </message>
    <message>
      <source>请输入代理服务器地址，或选择不使用代理</source>
      <translation>Please enter the proxy server's address, or choose not to use a proxy</translation>
    </message>
    <message>
      <source>不能使用系统目录作为同步目录，请重新指定!
    %s</source>
      <translation>A system folder cannot be the sync folder. Please choose another one!
    %s</translation>
    </message>
    <message>
      <source>不能使用主目录本身作为同步目录，请在其中指定一个目录!
    %s</source>
      <translation>Your home folder itself cannot be the sync folder. Please choose a folder inside it!
    %s</translation>
    </message>
  </context>
</TS>
